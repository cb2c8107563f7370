#include "registry.h"

#include "mod_global.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <utility>

namespace Registry {

namespace {

std::string userStore;
std::string machineStore;

// Key paths and value names compare without regard to letter case, as the registry's do.
struct IgnoringCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](char x, char y) { return modGlobal::AsciiLower(x) < modGlobal::AsciiLower(y); });
    }
};

using Values = std::map<std::string, std::string, IgnoringCase>;
using Hive = std::map<std::string, Values, IgnoringCase>;

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = modGlobal::AsciiLower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char code = text[++i];
        if (code == 'n')
            out += '\n';
        else if (code == 'r')
            out += '\r';
        else if (code == 't')
            out += '\t';
        else if (code == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
                 HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else
            out += code; // "\\" and anything a person wrote by hand
    }
    return out;
}

// Trims the separators a key path may carry by mistake; components are kept as written.
std::string NormalizedKey(const std::string& keyPath) {
    std::size_t start = 0;
    std::size_t end = keyPath.size();
    while (start < end && keyPath[start] == '\\')
        ++start;
    while (end > start && keyPath[end - 1] == '\\')
        --end;
    return keyPath.substr(start, end - start);
}

const std::string& StorePath(std::uint32_t hive) {
    if (hive == HKEY_LOCAL_MACHINE) {
        if (machineStore.empty())
            machineStore = "/etc/xdg/reririDuruv/machine.ini";
        return machineStore;
    }
    if (userStore.empty())
        userStore =
            QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
                              "/settings.ini")
                .toStdString();
    return userStore;
}

// The per-user hive as changed inside the open batches, if any is open.
int batchDepth = 0;
std::optional<Hive> batchKeys;
bool batchChanged = false;

// Each hive as last read, with what its file was then: a file that has not changed since
// is not read again.
struct Cached {
    Hive keys;
    std::string path;
    bool present = false;
    struct stat file {};
};
Cached cache[2];

Cached& CacheOf(std::uint32_t hive) {
    return cache[hive == HKEY_LOCAL_MACHINE ? 1 : 0];
}

bool SameFileState(const Cached& cached, const std::string& path, bool present,
                   const struct stat& now) {
    return cached.path == path && cached.present == present &&
           (!present || (cached.file.st_ino == now.st_ino && cached.file.st_size == now.st_size &&
                         cached.file.st_mtim.tv_sec == now.st_mtim.tv_sec &&
                         cached.file.st_mtim.tv_nsec == now.st_mtim.tv_nsec));
}

Hive Parse(const std::string& path) {
    Hive keys;
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::ReadOnly))
        return keys;
    Values* section = nullptr;
    while (!file.atEnd()) {
        std::string line = file.readLine().toStdString();
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = &keys[NormalizedKey(line.substr(1, line.size() - 2))];
            continue;
        }
        const std::size_t equals = line.find('=');
        if (section != nullptr && equals != std::string::npos)
            (*section)[Unescape(line.substr(0, equals))] = Unescape(line.substr(equals + 1));
    }
    return keys;
}

const Hive& Load(std::uint32_t hive) {
    if (hive == HKEY_CURRENT_USER && batchKeys)
        return *batchKeys;
    const std::string& path = StorePath(hive);
    struct stat now {};
    const bool present = ::stat(path.c_str(), &now) == 0;
    Cached& cached = CacheOf(hive);
    if (!SameFileState(cached, path, present, now)) {
        cached.keys = Parse(path);
        cached.path = path;
        cached.present = present;
        cached.file = now;
    }
    return cached.keys;
}

void Save(std::uint32_t hive, const Hive& keys) {
    if (hive != HKEY_CURRENT_USER)
        return; // the machine-wide hive is only read
    if (batchKeys) {
        *batchKeys = keys;
        batchChanged = true;
        return;
    }
    const QString path = QFile::decodeName(QByteArray::fromStdString(StorePath(hive)));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    std::string text = "# reririDuruv settings: [key] and name=text lines; \\\\, \\n, \\r, \\t and "
                       "\\xHH escape bytes.\n";
    for (const auto& [key, values] : keys) {
        text += "\n[" + key + "]\n";
        for (const auto& [name, data] : values) {
            std::string escapedName = modGlobal::CEscaped(name);
            // A "=" in a name would end it early when read back.
            std::string safeName;
            for (const char c : escapedName)
                safeName += c == '=' ? std::string("\\x3D") : std::string(1, c);
            text += safeName + "=" + modGlobal::CEscaped(data) + "\n";
        }
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit())
        return;
    Cached& cached = CacheOf(hive);
    cached.keys = keys;
    cached.path = StorePath(hive);
    cached.present = ::stat(cached.path.c_str(), &cached.file) == 0;
}

// 1 to 8 hexadecimal digits, as the typed forms write numbers.
std::optional<std::uint32_t> HexNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > 8)
        return std::nullopt;
    std::uint32_t number = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return number;
}

// The bytes of a list such as "41,0a,00"; an empty list holds no bytes.
std::optional<std::string> HexBytes(const std::string& list) {
    std::string bytes;
    if (list.empty())
        return bytes;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const auto byte = item.size() <= 2 ? HexNumber(item) : std::nullopt;
        if (!byte)
            return std::nullopt;
        bytes += static_cast<char>(*byte);
        if (comma == std::string::npos)
            return bytes;
        start = comma + 1;
    }
}

RawValue Typed(const std::string& text) {
    if (text.starts_with("dword:")) {
        if (const auto number = HexNumber(text.substr(6))) {
            std::string data;
            for (int shift = 0; shift < 32; shift += 8)
                data += static_cast<char>((*number >> shift) & 0xFF);
            return {REG_DWORD, data};
        }
    } else if (text.starts_with("hex:")) {
        if (const auto bytes = HexBytes(text.substr(4)))
            return {REG_BINARY, *bytes};
    } else if (text.starts_with("hex(")) {
        const std::size_t close = text.find("):");
        if (close != std::string::npos) {
            const auto type = HexNumber(text.substr(4, close - 4));
            const auto bytes = HexBytes(text.substr(close + 2));
            if (type && bytes)
                return {*type, *bytes};
        }
    }
    return {REG_SZ, text + '\0'};
}

bool IsAtOrBelow(const std::string& key, const std::string& parent) {
    if (key.size() < parent.size())
        return false;
    if (IgnoringCase{}(key.substr(0, parent.size()), parent) ||
        IgnoringCase{}(parent, key.substr(0, parent.size())))
        return false;
    return key.size() == parent.size() || key[parent.size()] == '\\';
}

} // namespace

std::optional<std::string> ReadSetting(std::uint32_t hive, const std::string& keyPath,
                                       const std::string& valueName) {
    const Hive& keys = Load(hive);
    const auto key = keys.find(NormalizedKey(keyPath));
    if (key == keys.end())
        return std::nullopt;
    const auto value = key->second.find(valueName);
    if (value == key->second.end())
        return std::nullopt;
    return value->second;
}

std::optional<RawValue> ReadValue(std::uint32_t hive, const std::string& keyPath,
                                  const std::string& valueName) {
    const std::optional<std::string> text = ReadSetting(hive, keyPath, valueName);
    if (!text)
        return std::nullopt;
    return Typed(*text);
}

void WriteSetting(std::uint32_t hive, const std::string& keyPath, const std::string& valueName,
                  const std::string& data) {
    Hive keys = Load(hive);
    // Every key above the new one comes into being too.
    const std::string key = NormalizedKey(keyPath);
    for (std::size_t slash = key.find('\\'); slash != std::string::npos;
         slash = key.find('\\', slash + 1))
        keys[key.substr(0, slash)];
    keys[key][valueName] = data;
    Save(hive, keys);
}

void DeleteSettingKey(std::uint32_t hive, const std::string& keyPath) {
    Hive keys = Load(hive);
    const std::string key = NormalizedKey(keyPath);
    bool removed = false;
    for (auto it = keys.begin(); it != keys.end();) {
        if (IsAtOrBelow(it->first, key)) {
            it = keys.erase(it);
            removed = true;
        } else {
            ++it;
        }
    }
    if (removed)
        Save(hive, keys);
}

Batch::Batch() {
    if (batchDepth++ == 0) {
        batchKeys = Load(HKEY_CURRENT_USER);
        batchChanged = false;
    }
}

Batch::~Batch() {
    if (--batchDepth > 0)
        return;
    Hive keys = std::move(*batchKeys);
    batchKeys.reset();
    if (batchChanged)
        Save(HKEY_CURRENT_USER, keys);
}

void SetStoreFile(std::uint32_t hive, const std::string& path) {
    (hive == HKEY_LOCAL_MACHINE ? machineStore : userStore) = path;
}

std::string StoreFile(std::uint32_t hive) {
    return StorePath(hive);
}

} // namespace Registry
