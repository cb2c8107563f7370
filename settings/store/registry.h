#pragma once

// Registry: the program's only road to its stored settings. Keys are paths of components
// separated by backslashes; each value is a text under a name, which a typed read hands out
// with its registry type and bytes where a caller needs them. The per-user hive lives in
// a small text file that a person can read and edit; reads of what is missing give
// nothing, and failures are never reported.

#include <cstdint>
#include <optional>
#include <string>

namespace Registry {

inline constexpr std::uint32_t HKEY_CURRENT_USER = 0x80000001;
inline constexpr std::uint32_t HKEY_LOCAL_MACHINE = 0x80000002;

// The stored text, or nothing when the key or value is missing or cannot be read.
std::optional<std::string> ReadSetting(std::uint32_t hive, const std::string& keyPath,
                                       const std::string& valueName);

// Value types of the typed read, numbered as the registry numbers them.
inline constexpr std::uint32_t REG_SZ = 1;
inline constexpr std::uint32_t REG_BINARY = 3;
inline constexpr std::uint32_t REG_DWORD = 4;

struct RawValue {
    std::uint32_t type = REG_SZ;
    std::string data; // the stored bytes, as a registry query hands them out

    bool operator==(const RawValue&) const = default;
};

// The value with its type and data bytes, or nothing when the key or value is missing or
// the store cannot be read. A value written as text is REG_SZ data with its terminating
// NUL, as the registry keeps strings. The machine-wide file, which a person writes, may
// also give a value in the typed forms of .reg files, lower case as there:
//   dword:0000002a     REG_DWORD, its four bytes lowest first
//   hex:01,ff          REG_BINARY with these bytes (none after the colon: no bytes)
//   hex(1):41,00       the type in hexadecimal, here REG_SZ, with exactly these bytes
// A text that is not exactly one of these forms stays text; ReadSetting always gives the
// text as written.
std::optional<RawValue> ReadValue(std::uint32_t hive, const std::string& keyPath,
                                  const std::string& valueName);

// Stores the text, creating the key and every missing key above it.
void WriteSetting(std::uint32_t hive, const std::string& keyPath, const std::string& valueName,
                  const std::string& data);
// Removes the key with every key beneath it.
void DeleteSettingKey(std::uint32_t hive, const std::string& keyPath);

// While a Batch lives, changes to the per-user hive are gathered and saved together when
// the outermost one ends: one write of the store instead of one per change, and a crash in
// between leaves the store as it was before all of them. Reads inside see the changes.
class Batch {
  public:
    Batch();
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;
};

// Where each hive is kept. The per-user hive defaults to "settings.ini" in the user's
// configuration folder; the machine-wide one is read-only and defaults to
// /etc/xdg/reririDuruv/machine.ini. Tests point both at their own files.
void SetStoreFile(std::uint32_t hive, const std::string& path);
std::string StoreFile(std::uint32_t hive);

} // namespace Registry
