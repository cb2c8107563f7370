// The shell's four file operations with literal names, and the folder listings.

#include "cshfileop.h"
#include "file_list.h"
#include "support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

class CSHFileOpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir / "a.txt", "A");
        WriteFile(dir / "b.txt", "B");
        ::mkdir((dir / "folder").c_str(), 0755);
        WriteFile(dir / "folder/in.txt", "IN");
    }
    bool Run(std::uint32_t operation, const std::vector<std::string>& sources,
             const std::vector<std::string>& targets) {
        for (const std::string& source : sources)
            op.AddSourceFile(dir / source);
        for (const std::string& target : targets)
            op.AddDestFile(dir / target);
        switch (operation) {
        case FO_COPY:
            return op.CopyFiles();
        case FO_MOVE:
            return op.MoveFiles();
        case FO_RENAME:
            return op.RenameFiles();
        default:
            return op.DeleteFiles();
        }
    }
    TempDir dir;
    CSHFileOp op;
};

TEST_F(CSHFileOpTest, AnEmptySourceListFailsWithTheShellsError) {
    op.AddDestFile(dir / "x");
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(op.ErrorNumber(), static_cast<std::int32_t>(0x800403E8));
    EXPECT_EQ(op.ErrorDescription(), "No source files specified file operation");
    EXPECT_FALSE(op.DeleteFiles());
    EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"a.txt", "b.txt", "folder"}));
}

TEST_F(CSHFileOpTest, CopyReplacesAtomicallyKeepingTheTargetsModeAndFollowsItsLink) {
    ::chmod((dir / "b.txt").c_str(), 0604);
    struct stat before {};
    ::stat((dir / "b.txt").c_str(), &before);
    ASSERT_TRUE(Run(FO_COPY, {"a.txt"}, {"b.txt"}));
    struct stat after {};
    ::stat((dir / "b.txt").c_str(), &after);
    EXPECT_EQ(ReadFile(dir / "b.txt"), "A");
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0604u);

    ::symlink("b.txt", (dir / "link").c_str());
    WriteFile(dir / "a.txt", "A2");
    CSHFileOp again;
    again.AddSourceFile(dir / "a.txt");
    again.AddDestFile(dir / "link");
    ASSERT_TRUE(again.CopyFiles());
    EXPECT_EQ(ReadFile(dir / "b.txt"), "A2");
    struct stat link {};
    ::lstat((dir / "link").c_str(), &link);
    EXPECT_TRUE(S_ISLNK(link.st_mode));

    CSHFileOp self;
    self.AddSourceFile(dir / "b.txt");
    self.AddDestFile(dir / "link");
    EXPECT_FALSE(self.CopyFiles()) << "a file copied onto itself";
}

TEST_F(CSHFileOpTest, NamesAreLiteralAndCollisionsGetNumbers) {
    WriteFile(dir / "news?.htm", "Q");
    WriteFile(dir / "news1.htm", "1");
    ASSERT_TRUE(Run(FO_COPY, {"news?.htm"}, {"news?.bak"}));
    EXPECT_EQ(ReadFile(dir / "news?.bak"), "Q");
    EXPECT_FALSE(Run(FO_COPY, {"*.txt"}, {"folder/"})) << "a name that is not there";

    op = CSHFileOp();
    op.SetRenameOnCollision(true);
    ASSERT_TRUE(Run(FO_COPY, {"a.txt", "a.txt"}, {"folder"}));
    EXPECT_EQ(ReadFile(dir / "folder/a.txt"), "A");
    EXPECT_EQ(ReadFile(dir / "folder/a (2).txt"), "A");
    op = CSHFileOp();
    op.SetRenameOnCollision(true);
    ASSERT_TRUE(Run(FO_RENAME, {"b.txt"}, {"a.txt"}));
    EXPECT_EQ(ReadFile(dir / "a (2).txt"), "B");
    EXPECT_EQ(NumberedName(".hidden", 3, false), ".hidden (3)");
    EXPECT_EQ(NumberedName("site.d", 2, true), "site.d (2)");
}

TEST_F(CSHFileOpTest, PairedDestinationsFoldersAndMoves) {
    ASSERT_TRUE(Run(FO_COPY, {"a.txt", "b.txt"}, {"x/one", "y/two"}));
    EXPECT_EQ(ReadFile(dir / "x/one"), "A");
    EXPECT_EQ(ReadFile(dir / "y/two"), "B");

    op = CSHFileOp();
    ASSERT_TRUE(Run(FO_COPY, {"folder"}, {"copy"}));
    EXPECT_EQ(ReadFile(dir / "copy/in.txt"), "IN");
    op = CSHFileOp();
    op.SetIncludeDirectories(false);
    EXPECT_FALSE(Run(FO_COPY, {"folder"}, {"other"}));
    EXPECT_FALSE(Exists(dir / "other"));

    op = CSHFileOp();
    ASSERT_TRUE(Run(FO_MOVE, {"a.txt"}, {"copy"}));
    EXPECT_FALSE(Exists(dir / "a.txt"));
    EXPECT_EQ(ReadFile(dir / "copy/a.txt"), "A");
    op = CSHFileOp();
    EXPECT_FALSE(Run(FO_RENAME, {"b.txt"}, {"copy/a.txt"})) << "a rename replaces nothing";
    EXPECT_EQ(ReadFile(dir / "b.txt"), "B");
}

TEST_F(CSHFileOpTest, DeleteForGoodOrToTheTrashAndAskingNobody) {
    op.SetConfirmOperation(true);
    EXPECT_FALSE(Run(FO_DELETE, {"a.txt"}, {})) << "nobody can answer: no";
    EXPECT_TRUE(Exists(dir / "a.txt"));

    op = CSHFileOp();
    ASSERT_TRUE(Run(FO_DELETE, {"a.txt", "folder"}, {}));
    EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"b.txt"});

    TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    op = CSHFileOp();
    op.SetAllowUndo(true);
    ASSERT_TRUE(Run(FO_DELETE, {"b.txt"}, {}));
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ReadFile(data / "Trash/files/b.txt"), "B");
    EXPECT_NE(ReadFile(data / "Trash/info/b.txt.trashinfo").find("Path=" + dir.path() + "b.txt\n"),
              std::string::npos);
}

TEST(FileList, HtmlPagesInNameOrderWithoutHiddenOrTemporaryFiles) {
    TempDir dir;
    for (const char* name : {"b.shtml", "A.HTM", "a.html", "c.txt", "noext", ".hidden.htm",
                             "reririDuruv.tmp", "Z.htm"})
        WriteFile(dir / name, "");
    ::mkdir((dir / "sub.htm").c_str(), 0755);
    ::symlink("a.html", (dir / "link.htm").c_str());
    std::vector<std::string> names;
    ASSERT_EQ(ListFiles(dir.path(), kHtmlPatterns, names), 0);
    EXPECT_EQ(names, (std::vector<std::string>{"A.HTM", "a.html", "b.shtml", "link.htm", "Z.htm"}));
    ASSERT_EQ(ListFiles(dir.path(), kAllFilesPattern, names), 0);
    EXPECT_EQ(names.size(), 7u);
    EXPECT_EQ(ListSubFolders(dir.path(), false, names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"sub.htm"});
    EXPECT_NE(ListFiles(dir / "gone", kHtmlPatterns, names), 0);
}

} // namespace
