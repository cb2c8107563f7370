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

TEST_F(RegistryTest, BatchSavesItsChangesTogetherAtItsEnd) {
    Write(kRecent + "\\1", "/old/");
    const std::string before = ReadFile(dir / "config/settings.ini");
    {
        const Registry::Batch batch;
        Registry::DeleteSettingKey(HKEY_CURRENT_USER, kRecent);
        {
            const Registry::Batch inner;
            Write(kRecent + "\\1", "/new/");
            Write(kRecent + "\\2", "/old/");
        }
        Write(kRecent + "\\0", "2");
        // Reads see the changes; the store does not, until the outermost batch ends.
        EXPECT_EQ(Read(kRecent + "\\1"), "/new/");
        EXPECT_EQ(ReadFile(dir / "config/settings.ini"), before);
    }
    EXPECT_EQ(Read(kRecent + "\\0"), "2");
    EXPECT_EQ(Read(kRecent + "\\1"), "/new/");
    EXPECT_EQ(Read(kRecent + "\\2"), "/old/");

    // A batch that changes nothing does not write the store again (a save makes a new file).
    struct stat saved {};
    ASSERT_EQ(::stat((dir / "config/settings.ini").c_str(), &saved), 0);
    {
        const Registry::Batch batch;
        EXPECT_EQ(Read(kRecent + "\\2"), "/old/");
    }
    struct stat now {};
    ASSERT_EQ(::stat((dir / "config/settings.ini").c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, saved.st_ino);
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

namespace {

class TypedReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, dir / "machine.ini");
    }
    std::optional<Registry::RawValue> Read(const std::string& valueName) {
        return Registry::ReadValue(Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Tool", valueName);
    }
    TempDir dir;
};

TEST_F(TypedReadTest, ValuesComeWithTheirTypeAndBytes) {
    using namespace std::string_literals;
    WriteFile(dir / "machine.ini", "[SOFTWARE\\Tool]\n"
                                   "text=/usr/bin/tool\n"
                                   "empty=\n"
                                   "number=dword:0000012a\n"
                                   "short number=dword:7\n"
                                   "binary=hex:01,ff,0\n"
                                   "no bytes=hex:\n"
                                   "string with nul=hex(1):41,42,00\n"
                                   "string without nul=hex(1):41,42\n"
                                   "other type=hex(b):01,02\n"
                                   "zero string=hex(1):\n");
    using Registry::RawValue;
    EXPECT_EQ(Read("text"), (RawValue{Registry::REG_SZ, "/usr/bin/tool\0"s}));
    EXPECT_EQ(Read("empty"), (RawValue{Registry::REG_SZ, "\0"s}));
    EXPECT_EQ(Read("number"), (RawValue{Registry::REG_DWORD, "\x2a\x01\0\0"s}));
    EXPECT_EQ(Read("short number"), (RawValue{Registry::REG_DWORD, "\x07\0\0\0"s}));
    EXPECT_EQ(Read("binary"), (RawValue{Registry::REG_BINARY, "\x01\xff\0"s}));
    EXPECT_EQ(Read("no bytes"), (RawValue{Registry::REG_BINARY, ""}));
    EXPECT_EQ(Read("string with nul"), (RawValue{Registry::REG_SZ, "AB\0"s}));
    EXPECT_EQ(Read("string without nul"), (RawValue{Registry::REG_SZ, "AB"}));
    EXPECT_EQ(Read("other type"), (RawValue{0xb, "\x01\x02"}));
    EXPECT_EQ(Read("zero string"), (RawValue{Registry::REG_SZ, ""}));
    EXPECT_EQ(Read("missing"), std::nullopt);
    EXPECT_EQ(Registry::ReadValue(Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "text"),
              std::nullopt);
    // The text read is not affected by the typed forms.
    EXPECT_EQ(Registry::ReadSetting(Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Tool", "number"),
              "dword:0000012a");
}

TEST_F(TypedReadTest, AnythingNotQuiteATypedFormStaysText) {
    using namespace std::string_literals;
    const std::string forms[] = {"dword:",   "dword:123456789", "dword:12g4", "DWORD:00000001",
                                 "hex:1,,2", "hex:123",         "hex:01,",    "hex(1:41",
                                 "hex():41", "hex(123456789):", "hex(1)41",   "hexadecimal"};
    std::string file = "[SOFTWARE\\Tool]\n";
    for (std::size_t i = 0; i < std::size(forms); ++i)
        file += "v" + std::to_string(i) + "=" + forms[i] + "\n";
    WriteFile(dir / "machine.ini", file);
    for (std::size_t i = 0; i < std::size(forms); ++i) {
        const auto value = Read("v" + std::to_string(i));
        ASSERT_TRUE(value.has_value()) << forms[i];
        EXPECT_EQ(value->type, Registry::REG_SZ) << forms[i];
        EXPECT_EQ(value->data, forms[i] + "\0"s) << forms[i];
    }
}

} // namespace
