#include "stored_settings.h"

#include "registry.h"

#include <algorithm>

namespace StoredSettings {

namespace {

std::string Read(const std::string& key) {
    return Registry::ReadSetting(Registry::HKEY_CURRENT_USER, key, kValueName).value_or("");
}

void Write(const std::string& key, const std::string& text) {
    Registry::WriteSetting(Registry::HKEY_CURRENT_USER, key, kValueName, text);
}

std::string RecentFolderKey(std::size_t index) {
    return std::string(kRecentFilesKey) + "\\" + std::to_string(index);
}

} // namespace

bool ReadOption(const char* key) {
    // Only what the program itself writes checks an option; anything else reads as unchecked.
    return Read(key) == "True";
}

void WriteOption(const char* key, bool checked) {
    Write(key, checked ? "True" : "False");
}

bool ReadHtmlOnly() {
    return Read(kHtmlKey) == "1";
}

void WriteHtmlOnly(bool htmlOnly) {
    Write(kHtmlKey, htmlOnly ? "1" : "0");
}

int ReadRecentCount() {
    std::string text = Read(RecentFolderKey(0));
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    const std::size_t start = !text.empty() && text[0] == '+' ? 1 : 0;
    if (start == text.size() ||
        !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    // However large the number, no more entries than the list can hold are read.
    int count = 0;
    for (std::size_t i = start; i < text.size() && count <= kMaxRecentFolders; ++i)
        count = count * 10 + (text[i] - '0');
    return std::min(count, kMaxRecentFolders);
}

std::vector<std::string> ReadRecentFolders() {
    std::vector<std::string> folders;
    const int count = ReadRecentCount();
    for (int index = 1; index <= count; ++index) {
        std::string folder = Read(RecentFolderKey(static_cast<std::size_t>(index)));
        if (!folder.empty())
            folders.push_back(std::move(folder));
    }
    return folders;
}

void WriteRecentFolders(const std::vector<std::string>& folders) {
    const Registry::Batch batch;
    ClearRecentFolders();
    for (std::size_t index = 0; index < folders.size(); ++index)
        Write(RecentFolderKey(index + 1), folders[index]);
    Write(RecentFolderKey(0), std::to_string(folders.size()));
}

void ClearRecentFolders() {
    Registry::DeleteSettingKey(Registry::HKEY_CURRENT_USER, kRecentFilesKey);
}

} // namespace StoredSettings
