#pragma once

// Registry: the program's only road to its stored settings. Keys are paths of components
// separated by backslashes; each value is a text under a name. The per-user hive lives in
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
// Stores the text, creating the key and every missing key above it.
void WriteSetting(std::uint32_t hive, const std::string& keyPath, const std::string& valueName,
                  const std::string& data);
// Removes the key with every key beneath it.
void DeleteSettingKey(std::uint32_t hive, const std::string& keyPath);

// Where each hive is kept. The per-user hive defaults to "settings.ini" in the user's
// configuration folder; the machine-wide one is read-only and defaults to
// /etc/xdg/reririDuruv/machine.ini. Tests point both at their own files.
void SetStoreFile(std::uint32_t hive, const std::string& path);
std::string StoreFile(std::uint32_t hive);

} // namespace Registry
