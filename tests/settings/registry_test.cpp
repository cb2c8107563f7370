#include "registry.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;
using Registry::HKEY_CURRENT_USER;

namespace {

const std::string kRecent = "Software\\reririDuruv\\recent files";

class RegistryTest : public ::testing::Test {
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

TEST_F(RegistryTest, MissingKeysAndValuesReadAsAbsent) {
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), std::nullopt);
    Write("Software\\reririDuruv\\backup", "True");
    EXPECT_EQ(Registry::ReadSetting(HKEY_CURRENT_USER, "Software\\reririDuruv\\backup", "Other"),
              std::nullopt);
    EXPECT_EQ(Read("Software\\reririDuruv\\errmsgoff"), std::nullopt);
    // An empty text is a value, not an absence.
    Write("Software\\reririDuruv\\errmsgoff", "");
    EXPECT_EQ(Read("Software\\reririDuruv\\errmsgoff"), std::string());
}

TEST_F(RegistryTest, EveryTextReadsBackUnchanged) {
    std::string allBytes;
    for (int byte = 0; byte < 256; ++byte)
        allBytes += static_cast<char>(byte);
    for (const std::string& text :
         {std::string("/home/anna/My Site/"), std::string("/srv/café/seiten/Übersicht/"),
          std::string("D:\\site\\"), std::string(" leading and trailing "),
          std::string("a=b\nc\r\\x41"), std::string("[section]"), allBytes}) {
        Write(kRecent + "\\1", text);
        EXPECT_EQ(Read(kRecent + "\\1"), text);
    }
}

TEST_F(RegistryTest, WritingCreatesTheKeysAbove) {
    Write(kRecent + "\\7", "/srv/site/");
    EXPECT_EQ(Read(kRecent + "\\7"), "/srv/site/");
    const std::string file = ReadFile(dir / "config/settings.ini");
    EXPECT_NE(file.find("[Software\\reririDuruv\\recent files]\n"), std::string::npos) << file;
    EXPECT_NE(file.find("[Software\\reririDuruv\\recent files\\7]\nString=/srv/site/\n"),
              std::string::npos)
        << file;
}

TEST_F(RegistryTest, DeletingAKeyTakesTheWholeBranch) {
    for (int n = 0; n <= 20; ++n)
        Write(kRecent + "\\" + std::to_string(n), "entry " + std::to_string(n));
    Write("Software\\reririDuruv\\recent filesX", "a neighbour, not a child");
    Write("Software\\reririDuruv\\html", "1");
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
    for (int n = 0; n <= 20; ++n)
        EXPECT_EQ(Read(kRecent + "\\" + std::to_string(n)), std::nullopt);
    EXPECT_EQ(ReadFile(dir / "config/settings.ini").find("recent files]"), std::string::npos);
    EXPECT_EQ(Read("Software\\reririDuruv\\recent filesX"), "a neighbour, not a child");
    EXPECT_EQ(Read("Software\\reririDuruv\\html"), "1");

    // Deleting what is not there changes nothing.
    const std::string before = ReadFile(dir / "config/settings.ini");
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
    EXPECT_EQ(ReadFile(dir / "config/settings.ini"), before);
}

TEST_F(RegistryTest, KeysIgnoreLetterCase) {
    Write("Software\\reririDuruv\\Backup", "False");
    Write("SOFTWARE\\RERIRIDURUV\\BACKUP", "True");
    EXPECT_EQ(Read("software\\reriridurUV\\backup"), "True");
}

TEST_F(RegistryTest, ReadsWhatAPersonWrote) {
    ::mkdir((dir / "config").c_str(), 0755);
    WriteFile(dir / "config/settings.ini",
              "# edited by hand\r\n\r\n[Software\\reririDuruv\\backup]\r\nString=True\r\n"
              "garbage line\n[Software\\reririDuruv\\recent files\\1]\nString=/a\\\\b\n");
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), "True");
    EXPECT_EQ(Read(kRecent + "\\1"), "/a\\b");
}

TEST_F(RegistryTest, FailuresAreSilent) {
    // A store whose folder cannot be made: writes are dropped, reads give nothing.
    WriteFile(dir / "blocker", "a file where the folder should be");
    Registry::SetStoreFile(HKEY_CURRENT_USER, dir / "blocker/settings.ini");
    Write("Software\\reririDuruv\\backup", "True");
    EXPECT_EQ(Read("Software\\reririDuruv\\backup"), std::nullopt);
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
}

TEST_F(RegistryTest, MachineHiveIsOnlyRead) {
    WriteFile(dir / "machine.ini",
              "[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH=/usr/bin/tool\n");
    Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, dir / "machine.ini");
    EXPECT_EQ(Registry::ReadSetting(Registry::HKEY_LOCAL_MACHINE,
                                    "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH"),
              "/usr/bin/tool");
    Registry::WriteSetting(Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\x", "PATH", "y");
    EXPECT_EQ(ReadFile(dir / "machine.ini"),
              "[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH=/usr/bin/tool\n");
}

} // namespace
