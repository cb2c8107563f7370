#include "cshfileop.h"
#include "file_tree.h"
#include "test_support.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <regex>
#include <stdexcept>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

using testing_support::Exists;
using testing_support::FolderNames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using Names = std::vector<std::string>;

void MakeFolder(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error)
        throw std::runtime_error("cannot create folder " + path);
}

void MakeLink(const std::string& destination, const std::string& link) {
    if (::symlink(destination.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot create link " + link);
}

struct stat StatusOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot stat " + path);
    return status;
}

// Writes a file, creating the folders it needs.
void Write(const std::string& path, const std::string& bytes) {
    MakeFolder(std::filesystem::path(path).parent_path().string());
    WriteFile(path, bytes);
}

bool IsLink(const std::string& path) {
    return S_ISLNK(StatusOf(path).st_mode);
}
bool IsFolder(const std::string& path) {
    return S_ISDIR(StatusOf(path).st_mode);
}
mode_t ModeOf(const std::string& path) {
    return StatusOf(path).st_mode & 07777;
}

std::string LinkDestination(const std::string& path) {
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0)
        throw std::runtime_error(path + " is no link");
    return std::string(buffer, static_cast<std::size_t>(length));
}

// Sets an environment variable (or removes it, given nullopt) while the object lives.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = ::getenv(name))
            saved_ = old;
        if (value ? ::setenv(name, value->c_str(), 1) != 0 : ::unsetenv(name) != 0)
            throw std::runtime_error(std::string("cannot set ") + name);
    }
    ~ScopedEnvironment() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

// A scratch folder and an operation object whose names are given relative to it. The trash
// is pointed into the scratch folder, so no test can ever reach the real user's one.
class FileOperationTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return dir / name; }
    void From(const Names& names) {
        for (const std::string& name : names)
            op.AddSourceFile(Path(name));
    }
    void To(const Names& names) {
        for (const std::string& name : names)
            op.AddDestFile(Path(name));
    }
    // The shell's own answer to the record the object would hand it.
    int RunRecord(std::uint32_t operation) {
        record = op.BuildRecord(operation);
        return ShellFileOperation(record);
    }
    Names Trashed() const {
        return Exists(Path("data/Trash/files")) ? FolderNames(Path("data/Trash/files")) : Names{};
    }

    TempDir dir;
    ScopedEnvironment dataHome{"XDG_DATA_HOME", dir / "data"};
    CSHFileOp op;
    SHFileOpStruct record;
};

class ShellFileOperationCopy : public FileOperationTest {};
class ShellFileOperationMove : public FileOperationTest {};
class ShellFileOperationRename : public FileOperationTest {};
class ShellFileOperationDelete : public FileOperationTest {};
class ShellFileOperationTrash : public FileOperationTest {};

// A small site: pages, a style folder with restricted bits, a link and an empty folder.
void MakeSite(const std::string& site) {
    MakeFolder(site + "/css");
    MakeFolder(site + "/empty");
    WriteFile(site + "/index.html", "index");
    WriteFile(site + "/css/site.css", "css");
    MakeLink("index.html", site + "/home.html");
    if (::chmod((site + "/css").c_str(), 0750) != 0)
        throw std::runtime_error("cannot chmod " + site);
}

void ExpectSite(const std::string& copy) {
    EXPECT_EQ(FolderNames(copy), (Names{"css", "empty", "home.html", "index.html"}));
    EXPECT_EQ(ReadFile(copy + "/index.html"), "index");
    EXPECT_EQ(ReadFile(copy + "/css/site.css"), "css");
    EXPECT_EQ(ModeOf(copy + "/css"), 0750u);
    EXPECT_EQ(LinkDestination(copy + "/home.html"), "index.html");
    EXPECT_TRUE(FolderNames(copy + "/empty").empty());
}

} // namespace

TEST_F(ShellFileOperationCopy, CopiesAFileToANewNameCreatingMissingFolders) {
    Write(Path("page.html"), "page");
    From({"page.html"});
    To({"new/deeper/copy.html"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("new/deeper/copy.html")), "page");
    EXPECT_EQ(ReadFile(Path("page.html")), "page");
}

TEST_F(ShellFileOperationCopy, ReplacesAnExistingFileWithoutAsking) {
    Write(Path("new.html"), "new");
    Write(Path("page.html"), "old");
    From({"new.html"});
    To({"page.html"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("page.html")), "new");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"new.html", "page.html"}));
}

TEST_F(ShellFileOperationCopy, AFolderAsDestinationReceivesTheSourcesUnderTheirOwnNames) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    MakeFolder(Path("out"));

    From({"a.html"});
    To({"out"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("out/a.html")), "a");

    // A trailing "/" says "folder" even before it exists.
    op.ClearDestFiles();
    To({"fresh/"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("fresh/a.html")), "a");

    // Several sources make the destination a folder, created when missing.
    op.AddSourceFile(Path("b.html"));
    op.ClearDestFiles();
    To({"several"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("several")), (Names{"a.html", "b.html"}));
}

TEST_F(ShellFileOperationCopy, SeveralSourcesCannotGoIntoAFile) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    Write(Path("target.html"), "target");
    From({"a.html", "b.html"});
    To({"target.html"});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("target.html")), "target");
}

TEST_F(ShellFileOperationCopy, MultipleDestinationsPairSourceIWithDestinationI) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    MakeFolder(Path("existing"));
    From({"a.html", "b.html"});
    To({"x/one.html", "existing"});

    // Paired destinations are names, not folders to put things into: a file cannot take
    // the place of a folder.
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("x/one.html")), "a");
    EXPECT_TRUE(FolderNames(Path("existing")).empty());

    op.ClearDestFiles();
    To({"x/one.html", "y/two.html"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("y/two.html")), "b");
}

TEST_F(ShellFileOperationCopy, MultipleDestinationsMustMatchTheSourcesInNumber) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    From({"a.html", "b.html"});
    To({"one.html", "two.html", "three.html"});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_NE(RunRecord(FO_COPY), 0);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html", "b.html"}));
}

TEST_F(ShellFileOperationCopy, CopiesAFolderWithEverythingInIt) {
    MakeSite(Path("site"));
    From({"site"});
    To({"copy"});

    ASSERT_TRUE(op.CopyFiles());
    ExpectSite(Path("copy"));
    ExpectSite(Path("site"));
    // The copy was built under a hidden name; nothing of that stays.
    EXPECT_EQ(FolderNames(dir.path()), (Names{"copy", "site"}));
}

TEST_F(ShellFileOperationCopy, MergesAFolderIntoItsNamesakeReplacingFiles) {
    MakeSite(Path("site"));
    MakeFolder(Path("out/site/css"));
    Write(Path("out/site/index.html"), "old");
    Write(Path("out/site/keep.html"), "keep");
    From({"site"});
    To({"out"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("out/site")),
              (Names{"css", "empty", "home.html", "index.html", "keep.html"}));
    EXPECT_EQ(ReadFile(Path("out/site/index.html")), "index");
    EXPECT_EQ(ReadFile(Path("out/site/keep.html")), "keep");
    EXPECT_EQ(ReadFile(Path("out/site/css/site.css")), "css");
}

TEST_F(ShellFileOperationCopy, RefusesToCopyAFolderIntoItself) {
    MakeSite(Path("site"));
    From({"site"});
    To({"site/inner/copy"});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("site")), (Names{"css", "empty", "home.html", "index.html"}));

    // Its own folder as destination means site/site, which is inside it too.
    op.ClearDestFiles();
    To({"site"});
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("site")), (Names{"css", "empty", "home.html", "index.html"}));
}

TEST_F(ShellFileOperationCopy, CopyingAFileOntoItselfFailsUnlessItMayTakeANewName) {
    Write(Path("page.html"), "page");
    From({"page.html"});
    To({""});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(RunRecord(FO_COPY), EEXIST);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"page.html"}));

    op.SetRenameOnCollision(true);
    ASSERT_TRUE(op.CopyFiles());
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"page (2).html", "page (3).html", "page.html"}));
    EXPECT_EQ(ReadFile(Path("page (3).html")), "page");
}

TEST_F(ShellFileOperationCopy, CopyingAFolderOntoItselfFailsUnlessItMayTakeANewName) {
    MakeSite(Path("site"));
    From({"site"});
    To({""});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(RunRecord(FO_COPY), EEXIST);
    EXPECT_EQ(FolderNames(dir.path()), Names{"site"});

    op.SetRenameOnCollision(true);
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"site", "site (2)"}));
    ExpectSite(Path("site (2)"));
    ExpectSite(Path("site"));
}

TEST_F(ShellFileOperationCopy, RenameOnCollisionNamesNewItemsAsTheShellDoes) {
    MakeFolder(Path("src/site.v1"));
    MakeFolder(Path("out/site.v1"));
    for (const char* name : {"page.html", "README", ".htaccess", "archive.tar.gz"}) {
        Write(Path("src/") + name, std::string("new ") + name);
        Write(Path("out/") + name, "old");
    }
    Write(Path("src/site.v1/inner.html"), "inner");
    op.SetRenameOnCollision(true);
    From({"src/*"});
    To({"out"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("out")),
              (Names{".htaccess", ".htaccess (2)", "README", "README (2)", "archive.tar (2).gz",
                     "archive.tar.gz", "page (2).html", "page.html", "site.v1", "site.v1 (2)"}));
    EXPECT_EQ(ReadFile(Path("out/page.html")), "old");
    EXPECT_EQ(ReadFile(Path("out/page (2).html")), "new page.html");
    EXPECT_EQ(ReadFile(Path("out/site.v1 (2)/inner.html")), "inner");
    EXPECT_TRUE(FolderNames(Path("out/site.v1")).empty());
}

TEST_F(ShellFileOperationCopy, AReplaceThatWouldNeedConfirmationIsRefused) {
    Write(Path("a.html"), "new a");
    Write(Path("b.html"), "new b");
    MakeSite(Path("site"));
    MakeFolder(Path("out/site"));
    Write(Path("out/a.html"), "old a");
    op.SetConfirmOperation(true);
    From({"a.html", "b.html", "site"});
    To({"out"});

    EXPECT_FALSE(op.CopyFiles());
    // Refused items stay as they were; the rest needed no question and is done.
    EXPECT_EQ(ReadFile(Path("out/a.html")), "old a");
    EXPECT_TRUE(FolderNames(Path("out/site")).empty());
    EXPECT_EQ(ReadFile(Path("out/b.html")), "new b");
    // The shell itself reports no failure, only that part of the work was refused.
    EXPECT_EQ(RunRecord(FO_COPY), 0);
    EXPECT_NE(record.fAnyOperationsAborted, 0u);
}

TEST_F(ShellFileOperationCopy, AMissingSourceFailsTheOperationBeforeAnythingIsDone) {
    Write(Path("a.html"), "a");
    From({"a.html", "missing.html"});
    To({"out"});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(RunRecord(FO_COPY), ENOENT);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html"}));
}

TEST_F(ShellFileOperationCopy, ACopyWithoutDestinationFails) {
    Write(Path("a.html"), "a");
    From({"a.html"});

    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html"}));
}

TEST_F(ShellFileOperationCopy, WildcardsInTheLastComponentMatchFilesAndFolders) {
    for (const char* name : {"a.txt", "B.TXT", "c.html", "d.txt.bak", "[x].txt", "README"})
        Write(Path("src/") + name, name);
    MakeFolder(Path("src/notes.txt"));
    Write(Path("src/notes.txt/inner"), "inner");

    From({"src/*.txt"});
    To({"text"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("text")), (Names{"B.TXT", "[x].txt", "a.txt", "notes.txt"}));
    EXPECT_EQ(ReadFile(Path("text/notes.txt/inner")), "inner");

    op.ClearSourceFiles();
    From({"src/?.HTML", "src/READM?"});
    op.ClearDestFiles();
    To({"single"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("single")), (Names{"README", "c.html"}));

    // "*.*" is every name, also one without a dot.
    op.ClearSourceFiles();
    From({"src/*.*"});
    op.ClearDestFiles();
    To({"all"});
    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("all")), FolderNames(Path("src")));
}

TEST_F(ShellFileOperationCopy, FilesOnlyLeavesFoldersOutOfWildcardMatches) {
    Write(Path("src/a.txt"), "a");
    MakeFolder(Path("src/notes.txt"));
    op.SetIncludeDirectories(false);
    From({"src/*.txt"});
    To({"out"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(Path("out")), Names{"a.txt"});
}

TEST_F(ShellFileOperationCopy, APatternThatMatchesNothingDoesNothing) {
    Write(Path("a.html"), "a");
    From({"*.xyz"});
    To({"out"});

    EXPECT_TRUE(op.CopyFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html"}));
}

TEST_F(ShellFileOperationCopy, AnExistingNameWithWildcardCharactersIsTakenAsItIs) {
    Write(Path("what?.html"), "question");
    Write(Path("whatX.html"), "other");
    From({"what?.html"});
    To({"what?.bak"});

    ASSERT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(Path("what?.bak")), "question");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"what?.bak", "what?.html", "whatX.html"}));
}

TEST_F(ShellFileOperationMove, MovesAFileByRenamingIt) {
    Write(Path("page.html"), "page");
    const ino_t inode = StatusOf(Path("page.html")).st_ino;
    From({"page.html"});
    To({"out/moved.html"});

    ASSERT_TRUE(op.MoveFiles());
    EXPECT_FALSE(Exists(Path("page.html")));
    EXPECT_EQ(ReadFile(Path("out/moved.html")), "page");
    EXPECT_EQ(StatusOf(Path("out/moved.html")).st_ino, inode);
}

TEST_F(ShellFileOperationMove, ReplacesANamesakeInTheDestinationFolder) {
    Write(Path("page.html"), "new");
    Write(Path("out/page.html"), "old");
    From({"page.html"});
    To({"out"});

    ASSERT_TRUE(op.MoveFiles());
    EXPECT_EQ(ReadFile(Path("out/page.html")), "new");
    EXPECT_EQ(FolderNames(dir.path()), Names{"out"});
    EXPECT_EQ(FolderNames(Path("out")), Names{"page.html"});
}

TEST_F(ShellFileOperationMove, MergesAFolderIntoItsNamesake) {
    MakeSite(Path("site"));
    MakeFolder(Path("out/site/css"));
    Write(Path("out/site/index.html"), "old");
    Write(Path("out/site/keep.html"), "keep");
    From({"site"});
    To({"out"});

    ASSERT_TRUE(op.MoveFiles());
    EXPECT_FALSE(Exists(Path("site")));
    EXPECT_EQ(FolderNames(Path("out/site")),
              (Names{"css", "empty", "home.html", "index.html", "keep.html"}));
    EXPECT_EQ(ReadFile(Path("out/site/index.html")), "index");
    EXPECT_EQ(ReadFile(Path("out/site/css/site.css")), "css");
}

TEST_F(ShellFileOperationMove, ALinkIsMovedItselfNotWhatItPointsTo) {
    MakeFolder(Path("real"));
    Write(Path("real/page.html"), "page");
    MakeFolder(Path("links"));
    MakeLink("../real", Path("links/real"));
    From({"links/real"});
    To({"moved"});

    ASSERT_TRUE(op.MoveFiles());
    EXPECT_TRUE(IsLink(Path("moved")));
    EXPECT_EQ(LinkDestination(Path("moved")), "../real");
    EXPECT_EQ(ReadFile(Path("real/page.html")), "page");
}

TEST_F(ShellFileOperationMove, RefusesToMoveAFolderIntoItselfOrAnItemOntoItself) {
    MakeSite(Path("site"));
    Write(Path("page.html"), "page");

    From({"site"});
    To({"site/inner"});
    EXPECT_FALSE(op.MoveFiles());
    EXPECT_EQ(FolderNames(Path("site")), (Names{"css", "empty", "home.html", "index.html"}));

    op.ClearSourceFiles();
    From({"page.html"});
    op.ClearDestFiles();
    To({"page.html"});
    EXPECT_FALSE(op.MoveFiles());
    EXPECT_EQ(ReadFile(Path("page.html")), "page");

    op.SetRenameOnCollision(true);
    ASSERT_TRUE(op.MoveFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"page (2).html", "site"}));
}

TEST_F(ShellFileOperationMove, AReplaceThatWouldNeedConfirmationIsRefused) {
    Write(Path("page.html"), "new");
    Write(Path("out/page.html"), "old");
    op.SetConfirmOperation(true);
    From({"page.html"});
    To({"out"});

    EXPECT_FALSE(op.MoveFiles());
    EXPECT_EQ(ReadFile(Path("page.html")), "new");
    EXPECT_EQ(ReadFile(Path("out/page.html")), "old");
}

TEST_F(ShellFileOperationMove, AcrossFileSystemsAnItemIsCopiedWithItsTimesThenRemoved) {
    // Two file systems cannot be relied on in a test: the fallback is driven directly.
    MakeSite(Path("site"));
    const struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("site/index.html").c_str(), past, 0), 0);
    ASSERT_EQ(::chmod(Path("site/index.html").c_str(), 0604), 0);
    ASSERT_EQ(::utimensat(AT_FDCWD, Path("site").c_str(), past, 0), 0);

    ASSERT_EQ(file_tree::MoveByCopy(Path("site"), Path("moved")), 0);
    EXPECT_FALSE(Exists(Path("site")));
    ExpectSite(Path("moved"));
    EXPECT_EQ(StatusOf(Path("moved/index.html")).st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(StatusOf(Path("moved")).st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(ModeOf(Path("moved/index.html")), 0604u);
    EXPECT_EQ(FolderNames(dir.path()), Names{"moved"});

    // It never replaces: an existing target fails the move and the source stays.
    Write(Path("page.html"), "page");
    EXPECT_EQ(file_tree::MoveByCopy(Path("page.html"), Path("moved")), EEXIST);
    EXPECT_EQ(ReadFile(Path("page.html")), "page");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"moved", "page.html"}));
}

TEST_F(ShellFileOperationRename, RenamesSourceIToDestinationI) {
    Write(Path("a.html"), "a");
    MakeFolder(Path("folder"));
    From({"a.html", "folder"});
    To({"b.html", "renamed"});

    ASSERT_TRUE(op.RenameFiles());
    EXPECT_EQ(ReadFile(Path("b.html")), "a");
    EXPECT_TRUE(IsFolder(Path("renamed")));
    EXPECT_EQ(FolderNames(dir.path()), (Names{"b.html", "renamed"}));
}

TEST_F(ShellFileOperationRename, NeverReplacesAnExistingNameUnlessItMayPickANewOne) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    From({"a.html"});
    To({"b.html"});

    EXPECT_FALSE(op.RenameFiles());
    EXPECT_EQ(RunRecord(FO_RENAME), EEXIST);
    EXPECT_EQ(ReadFile(Path("a.html")), "a");
    EXPECT_EQ(ReadFile(Path("b.html")), "b");

    op.SetRenameOnCollision(true);
    ASSERT_TRUE(op.RenameFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"b (2).html", "b.html"}));
    EXPECT_EQ(ReadFile(Path("b (2).html")), "a");
}

TEST_F(ShellFileOperationRename, FailsWithNothingRenamedWhenTheListsDoNotPair) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");

    From({"a.html", "b.html"});
    To({"x.html"});
    EXPECT_FALSE(op.RenameFiles());

    op.ClearSourceFiles();
    From({"a.html", "missing.html"});
    op.ClearDestFiles();
    To({"x.html", "y.html"});
    EXPECT_FALSE(op.RenameFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html", "b.html"}));
}

TEST_F(ShellFileOperationDelete, RemovesFilesAndFoldersForGood) {
    Write(Path("page.html"), "page");
    MakeSite(Path("site"));
    Write(Path("keep.html"), "keep");
    From({"page.html", "site"});

    ASSERT_TRUE(op.DeleteFiles());
    EXPECT_EQ(FolderNames(dir.path()), Names{"keep.html"});
}

TEST_F(ShellFileOperationDelete, RemovesALinkButNotWhatItPointsTo) {
    MakeSite(Path("site"));
    MakeLink("site", Path("link"));
    From({"link"});

    ASSERT_TRUE(op.DeleteFiles());
    EXPECT_FALSE(Exists(Path("link")));
    ExpectSite(Path("site"));
}

TEST_F(ShellFileOperationDelete, WildcardsWithFilesOnlySpareFolders) {
    Write(Path("a.tmp"), "a");
    Write(Path("b.TMP"), "b");
    MakeFolder(Path("c.tmp"));
    Write(Path("d.html"), "d");
    op.SetIncludeDirectories(false);
    From({"*.tmp"});

    ASSERT_TRUE(op.DeleteFiles());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"c.tmp", "d.html"}));
}

TEST_F(ShellFileOperationDelete, ADeleteThatWouldNeedConfirmationIsRefusedAsAWhole) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    op.SetConfirmOperation(true);
    From({"a.html", "b.html"});

    EXPECT_FALSE(op.DeleteFiles());
    EXPECT_EQ(RunRecord(FO_DELETE), 0);
    EXPECT_NE(record.fAnyOperationsAborted, 0u);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"a.html", "b.html"}));
}

TEST_F(ShellFileOperationDelete, AMissingSourceFailsWithNothingDeleted) {
    Write(Path("a.html"), "a");
    From({"a.html", "missing.html"});

    EXPECT_FALSE(op.DeleteFiles());
    EXPECT_EQ(RunRecord(FO_DELETE), ENOENT);
    EXPECT_EQ(FolderNames(dir.path()), Names{"a.html"});
}

TEST_F(ShellFileOperationDelete, RefusesTheRootAndDotNames) {
    Write(Path("site/page.html"), "page");
    // Asking for confirmation keeps even a broken refusal from deleting anything: the
    // operation must fail before it gets to that question.
    op.SetConfirmOperation(true);
    for (const std::string& name :
         {std::string("/"), std::string("//"), Path("site/."), Path("site/.."), Path("site/../")}) {
        op.ClearSourceFiles();
        op.AddSourceFile(name);
        EXPECT_EQ(RunRecord(FO_DELETE), EINVAL) << name;
        EXPECT_EQ(record.fAnyOperationsAborted, 0u) << name;
    }
    EXPECT_EQ(ReadFile(Path("site/page.html")), "page");
}

TEST_F(ShellFileOperationTrash, AllowUndoMovesAnItemToTheTrashWithItsOrigin) {
    Write(Path("site/my page%.html"), "page");
    const std::string folder = std::filesystem::canonical(Path("site")).string();
    ASSERT_TRUE(std::regex_match(folder, std::regex("[A-Za-z0-9/._~-]+")))
        << "the scratch folder " << folder << " has characters this test does not encode";
    op.SetAllowUndo(true);
    From({"site/my page%.html"});

    ASSERT_TRUE(op.DeleteFiles());
    EXPECT_FALSE(Exists(Path("site/my page%.html")));
    EXPECT_EQ(ReadFile(Path("data/Trash/files/my page%.html")), "page");
    EXPECT_EQ(FolderNames(Path("data/Trash/info")), Names{"my page%.html.trashinfo"});
    const std::string info = ReadFile(Path("data/Trash/info/my page%.html.trashinfo"));
    EXPECT_TRUE(std::regex_match(info, std::regex("\\[Trash Info\\]\nPath=" + folder +
                                                  "/my%20page%25\\.html\n"
                                                  "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:"
                                                  "\\d\\d:\\d\\d\n")))
        << info;
    for (const char* trashFolder : {"data/Trash", "data/Trash/files", "data/Trash/info"})
        EXPECT_EQ(ModeOf(Path(trashFolder)), 0700u) << trashFolder;
}

TEST_F(ShellFileOperationTrash, NamesAlreadyInTheTrashAreNotReplaced) {
    op.SetAllowUndo(true);
    From({"page.html"});
    for (const char* content : {"first", "second", "third"}) {
        Write(Path("page.html"), content);
        ASSERT_TRUE(op.DeleteFiles()) << content;
    }
    EXPECT_EQ(Trashed(), (Names{"page (2).html", "page (3).html", "page.html"}));
    EXPECT_EQ(ReadFile(Path("data/Trash/files/page (3).html")), "third");
    EXPECT_EQ(FolderNames(Path("data/Trash/info")),
              (Names{"page (2).html.trashinfo", "page (3).html.trashinfo", "page.html.trashinfo"}));
}

TEST_F(ShellFileOperationTrash, FoldersAndWildcardMatchesGoWhole) {
    MakeSite(Path("site"));
    Write(Path("a.bak"), "a");
    Write(Path("b.bak"), "b");
    op.SetAllowUndo(true);
    From({"site", "*.bak"});

    ASSERT_TRUE(op.DeleteFiles());
    EXPECT_EQ(Trashed(), (Names{"a.bak", "b.bak", "site"}));
    ExpectSite(Path("data/Trash/files/site"));
    EXPECT_EQ(FolderNames(dir.path()), Names{"data"});
}

TEST_F(ShellFileOperationTrash, WithoutAnAbsoluteXdgDataHomeTheTrashIsInTheHomeFolder) {
    ScopedEnvironment home("HOME", Path("home"));
    op.SetAllowUndo(true);
    From({"page.html"});
    for (const std::optional<std::string>& dataHome :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("relative/data")}) {
        ScopedEnvironment setting("XDG_DATA_HOME", dataHome);
        Write(Path("page.html"), "page");
        ASSERT_TRUE(op.DeleteFiles()) << dataHome.value_or("(unset)");
    }
    EXPECT_EQ(FolderNames(Path("home/.local/share/Trash/files")),
              (Names{"page (2).html", "page (3).html", "page.html"}));
    EXPECT_FALSE(Exists(Path("data")));
    EXPECT_FALSE(Exists(Path("relative")));
}

TEST_F(ShellFileOperationTrash, AnItemStaysWhereItIsWhenTheTrashCannotBeMade) {
    Write(Path("data"), "a file where the trash's folder should be");
    Write(Path("page.html"), "page");
    op.SetAllowUndo(true);
    From({"page.html"});

    EXPECT_FALSE(op.DeleteFiles());
    EXPECT_EQ(ReadFile(Path("page.html")), "page");
}

TEST_F(ShellFileOperationDelete, ARecordWhoseBuffersLackTheirClosingNulsStillEnds) {
    Write(Path("a.html"), "a");
    Write(Path("b.html"), "b");
    record.wFunc = FO_DELETE;
    record.fFlags = FOF_NOCONFIRMATION;
    record.pFrom = Path("a.html") + '\0' + Path("b.html");

    EXPECT_EQ(ShellFileOperation(record), 0);
    EXPECT_TRUE(FolderNames(dir.path()).empty());
}
