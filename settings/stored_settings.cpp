#include "stored_settings.h"

#include "registry.h"

#include <algorithm>
#include <cctype>

namespace StoredSettings {

namespace {

std::string Read(const std::string& key) {
    return Registry::ReadSetting(Registry::HKEY_CURRENT_USER, key, kValueName).value_or("");
}

void Write(const std::string& key, const std::string& text) {
    Registry::WriteSetting(Registry::HKEY_CURRENT_USER, key, kValueName, text);
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

std::string RecentFolderKey(int index) {
    return std::string(kRecentFilesKey) + "\\" + std::to_string(index);
}

int ReadRecentCount() {
    std::string text = Read(RecentFolderKey(0));
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    const std::size_t start = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (start == text.size() ||
        !std::all_of(text.begin() + static_cast<std::ptrdiff_t>(start), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    if (text[0] == '-')
        return 0;
    // However large the number, no more entries than the list can hold are read.
    int count = 0;
    for (std::size_t i = start; i < text.size() && count <= kMaxRecentFolders; ++i)
        count = count * 10 + (text[i] - '0');
    return std::min(count, kMaxRecentFolders);
}

} // namespace StoredSettings
