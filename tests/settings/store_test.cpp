// The settings store: what reads as absent, that every byte comes back, whole branches,
// letter case; and the program's keys read as their texts say.

#include "registry.h"
#include "store_support.h"
#include "stored_settings.h"

#include <gtest/gtest.h>

using namespace testing_support;
using Registry::HKEY_CURRENT_USER;

namespace {

const std::string kRecent = "Software\\reririDuruv\\recent files";

class StoreTest : public ::testing::Test {
  protected:
    window_testing::TemporaryStore store;
};

TEST_F(StoreTest, AbsentEmptyAndEveryByte) {
    EXPECT_EQ(store.Read("Software\\reririDuruv\\backup"), std::nullopt);
    store.Write("Software\\reririDuruv\\backup", "");
    EXPECT_EQ(store.Read("Software\\reririDuruv\\backup"), std::string());
    EXPECT_EQ(Registry::ReadSetting(HKEY_CURRENT_USER, "Software\\reririDuruv\\backup", "Other"),
              std::nullopt);
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte)
        allBytes += static_cast<char>(byte);
    for (const std::string& text : {std::string("/srv/caf\xE9/"), std::string("a=b\nc\r\\x41"),
                                    std::string("[section]"), allBytes}) {
        store.Write(kRecent + "\\1", text);
        store.Reload();
        EXPECT_EQ(store.Read(kRecent + "\\1"), text);
        EXPECT_EQ(store.Read("SOFTWARE\\RERIRIDURUV\\Recent Files\\1"), text) << "keys ignore case";
    }
}

TEST_F(StoreTest, DeletingAKeyTakesTheWholeBranchAndOnlyIt) {
    for (int n = 0; n <= 20; ++n)
        store.Write(kRecent + "\\" + std::to_string(n), "entry");
    store.Write(kRecent + "X", "a neighbour, not a child");
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
    for (int n = 0; n <= 20; ++n)
        EXPECT_EQ(store.Read(kRecent + "\\" + std::to_string(n)), std::nullopt);
    EXPECT_EQ(store.Read(kRecent + "X"), "a neighbour, not a child");
}

TEST_F(StoreTest, TheProgramsKeys) {
    StoredSettings::WriteOption(StoredSettings::kBackupKey, true);
    StoredSettings::WriteHtmlOnly(true);
    EXPECT_EQ(store.Read("Software\\reririDuruv\\backup"), "True");
    EXPECT_EQ(store.Read("Software\\reririDuruv\\html"), "1");
    for (const auto& [text, checked] : std::vector<std::pair<std::string, bool>>{
             {"True", true}, {"False", false}, {"", false}, {"yes", false}}) {
        store.Write("Software\\reririDuruv\\errmsgoff", text);
        EXPECT_EQ(StoredSettings::ReadOption(StoredSettings::kErrmsgoffKey), checked) << text;
    }
    // The count says how many numbered entries are read, at most 20; gaps close up.
    for (int n = 1; n <= 25; ++n)
        store.Write(kRecent + "\\" + std::to_string(n), n == 2 ? "" : "/f" + std::to_string(n));
    for (const auto& [count, size] : std::vector<std::pair<std::string, std::size_t>>{
             {"3", 2}, {" 25 ", 19}, {"99999999999", 19}, {"x", 0}, {"-3", 0}, {"", 0}}) {
        store.Write(kRecent + "\\0", count);
        EXPECT_EQ(StoredSettings::ReadRecentFolders().size(), size) << count;
    }
    StoredSettings::WriteRecentFolders({"/b/", "/a/"});
    store.Reload();
    EXPECT_EQ(store.Read(kRecent + "\\0"), "2");
    EXPECT_EQ(store.Read(kRecent + "\\3"), std::nullopt) << "the list is stored anew";
    EXPECT_EQ(StoredSettings::ReadRecentFolders(), (std::vector<std::string>{"/b/", "/a/"}));
}

} // namespace
