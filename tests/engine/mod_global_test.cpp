#include "mod_global.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

TEST(AddBackslash, AddsTheSeparatorOnlyWhenMissing) {
    EXPECT_EQ(modGlobal::AddBackslash("/srv/site"), "/srv/site/");
    EXPECT_EQ(modGlobal::AddBackslash("/srv/site/"), "/srv/site/");
    EXPECT_EQ(modGlobal::AddBackslash("/"), "/");
    EXPECT_EQ(modGlobal::AddBackslash(""), "/");
}

TEST(CheckExists, FilesAndFoldersAreToldApart) {
    TempDir dir;
    WriteFile(dir / "file.htm", "x");
    ::mkdir((dir / "folder").c_str(), 0755);
    ::symlink("file.htm", (dir / "link.htm").c_str());
    ::symlink("nowhere", (dir / "dangling").c_str());

    EXPECT_TRUE(modGlobal::CheckFileExists(dir / "file.htm"));
    EXPECT_TRUE(modGlobal::CheckFileExists(dir / "link.htm"));
    EXPECT_FALSE(modGlobal::CheckFileExists(dir / "folder"));
    EXPECT_FALSE(modGlobal::CheckFileExists(dir / "dangling"));
    EXPECT_FALSE(modGlobal::CheckFileExists(dir / "missing"));
    EXPECT_FALSE(modGlobal::CheckFileExists(""));

    EXPECT_TRUE(modGlobal::CheckFolderExists(dir / "folder"));
    EXPECT_TRUE(modGlobal::CheckFolderExists(dir.path()));
    EXPECT_FALSE(modGlobal::CheckFolderExists(dir / "file.htm"));
    EXPECT_FALSE(modGlobal::CheckFolderExists(dir / "missing"));
}

TEST(AppendLogLine, CreatesTheLogAndItsFolderThenAppends) {
    TempDir dir;
    modGlobal::SetLogFolder(dir / "data/reririDuruv");
    EXPECT_EQ(modGlobal::LogFileName(), dir / "data/reririDuruv/error.log");
    EXPECT_TRUE(modGlobal::AppendLogLine(" "));
    EXPECT_TRUE(modGlobal::AppendLogLine(" -Unmatched tags found in a.htm"));
    EXPECT_EQ(ReadFile(dir / "data/reririDuruv/error.log"),
              " \r\n -Unmatched tags found in a.htm\r\n");
}

TEST(AppendLogLine, SaysWhenTheLineCouldNotBeWritten) {
    TempDir dir;
    ::mkdir((dir / "error.log").c_str(), 0755);
    modGlobal::SetLogFolder(dir.path());
    EXPECT_FALSE(modGlobal::AppendLogLine("lost?"));

    // A full disk: /dev/full accepts the open and fails every write.
    modGlobal::SetLogFile("/dev/full");
    EXPECT_FALSE(modGlobal::AppendLogLine("lost?"));
}

} // namespace
