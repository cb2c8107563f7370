#pragma once

// The per-user settings store in a folder of the test's own, for as long as it lives.

#include "registry.h"
#include "support.h"

#include <optional>

namespace window_testing {

class TemporaryStore {
  public:
    TemporaryStore() {
        Registry::SetStoreFile(Registry::HKEY_CURRENT_USER, dir_ / "config/settings.ini");
    }
    std::string file() const { return dir_ / "config/settings.ini"; }
    // Reads the file afresh, as the program's next start does.
    void Reload() const {
        Registry::SetStoreFile(Registry::HKEY_CURRENT_USER, dir_ / "other.ini");
        (void)Read("Software"); // the store holds the other file now, so the next read parses
        Registry::SetStoreFile(Registry::HKEY_CURRENT_USER, file());
    }
    std::optional<std::string> Read(const std::string& key) const {
        return Registry::ReadSetting(Registry::HKEY_CURRENT_USER, key, "String");
    }
    void Write(const std::string& key, const std::string& text) const {
        Registry::WriteSetting(Registry::HKEY_CURRENT_USER, key, "String", text);
    }

  private:
    testing_support::TempDir dir_;
};

} // namespace window_testing
