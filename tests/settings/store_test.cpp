// The settings store: what reads as absent, that every byte comes back, whole branches,
// letter case, one save for a batch; and the program's keys read as their texts say.

#include "registry.h"
#include "stored_settings.h"
#include "support.h"

#include <gtest/gtest.h>

using namespace testing_support;
using Registry::HKEY_CURRENT_USER;

namespace {

const std::string kRecent = "Software\\reririDuruv\\recent files";

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Registry::SetStoreFile(HKEY_CURRENT_USER, dir / "config/settings.ini");
    }
    std::optional<std::string> Read(const std::string& key) {
        return Registry::ReadSetting(HKEY_CURRENT_USER, key, "String");
    }
    void Write(const std::string& key, const std::string& text) {
        Registry::WriteSetting(HKEY_CURRENT_USER, key, "String", text);
    }
    TempDir dir;
};

TEST_F(StoreTest, AbsentEmptyAndEveryByte) {
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), std::nullopt);
    Write("Software\\reririDuruv\\backup", "");
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), std::string());
    EXPECT_EQ(Registry::ReadSetting(HKEY_CURRENT_USER, "Software\\reririDuruv\\backup", "Other"),
              std::nullopt);
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte)
        allBytes += static_cast<char>(byte);
    for (const std::string& text : {std::string("/srv/caf\xE9/"), std::string("a=b\nc\r\\x41"),
                                    std::string("[section]"), allBytes}) {
        Write(kRecent + "\\1", text);
        // Read back from the file, as the next start of the program reads it.
        Registry::SetStoreFile(HKEY_CURRENT_USER, dir / "other.ini");
        Registry::SetStoreFile(HKEY_CURRENT_USER, dir / "config/settings.ini");
        EXPECT_EQ(Read(kRecent + "\\1"), text);
        EXPECT_EQ(Read("SOFTWARE\\RERIRIDURUV\\Recent Files\\1"), text) << "keys ignore case";
    }
}

TEST_F(StoreTest, DeletingAKeyTakesTheWholeBranchAndOnlyIt) {
    for (int n = 0; n <= 20; ++n)
        Write(kRecent + "\\" + std::to_string(n), "entry");
    Write(kRecent + "X", "a neighbour, not a child");
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
    for (int n = 0; n <= 20; ++n)
        EXPECT_EQ(Read(kRecent + "\\" + std::to_string(n)), std::nullopt);
    EXPECT_EQ(Read(kRecent + "X"), "a neighbour, not a child");
}

TEST_F(StoreTest, AFileEditedByHandIsReadAgain) {
    Write("Software\\reririDuruv\\html", "1");
    WriteFile(dir / "config/settings.ini", "[Software\\reririDuruv\\html]\nString=0\n");
    EXPECT_EQ(Read("Software\\reririDuruv\\html"), "0");
}

TEST_F(StoreTest, ABatchSavesOnce) {
    {
        const Registry::Batch batch;
        Write("Software\\reririDuruv\\backup", "True");
        EXPECT_EQ(Read("Software\\reririDuruv\\backup"), "True");
        EXPECT_FALSE(Exists(dir / "config/settings.ini"));
    }
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), "True");
}

TEST_F(StoreTest, TheProgramsKeys) {
    StoredSettings::WriteOption(StoredSettings::kBackupKey, true);
    StoredSettings::WriteHtmlOnly(true);
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), "True");
    EXPECT_EQ(Read("Software\\reririDuruv\\html"), "1");
    for (const auto& [text, checked] : std::vector<std::pair<std::string, bool>>{
             {"True", true}, {"False", false}, {"", false}, {"yes", false}}) {
        Write("Software\\reririDuruv\\errmsgoff", text);
        EXPECT_EQ(StoredSettings::ReadOption(StoredSettings::kErrmsgoffKey), checked) << text;
    }
    // The count says how many numbered entries are read, at most 20; gaps close up.
    for (int n = 1; n <= 25; ++n)
        Write(kRecent + "\\" + std::to_string(n), n == 2 ? "" : "/f" + std::to_string(n));
    for (const auto& [count, size] : std::vector<std::pair<std::string, std::size_t>>{
             {"3", 2}, {" 25 ", 19}, {"99999999999", 19}, {"x", 0}, {"-3", 0}, {"", 0}}) {
        Write(kRecent + "\\0", count);
        EXPECT_EQ(StoredSettings::ReadRecentFolders().size(), size) << count;
    }
    StoredSettings::WriteRecentFolders({"/b/", "/a/"});
    EXPECT_EQ(Read(kRecent + "\\0"), "2");
    EXPECT_EQ(Read(kRecent + "\\3"), std::nullopt) << "the list is stored anew";
    EXPECT_EQ(StoredSettings::ReadRecentFolders(), (std::vector<std::string>{"/b/", "/a/"}));
}

} // namespace
