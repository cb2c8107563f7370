// The shell's four file operations with literal names, as one table.

#include "cshfileop.h"
#include "support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

enum Option { kNone = 0, kNumbered = 1, kFilesOnly = 2, kAsking = 4 };

struct OperationRow {
    const char* what;
    std::uint32_t operation;
    std::vector<std::string> sources, targets;
    int options;
    bool succeeds;
    std::string after; // every file below the folder afterwards, as "name=content"
};

TEST(CSHFileOp, OperationsWithLiteralNames) {
    // clang-format off
    const OperationRow rows[] = {
        {"copy onto a file",          FO_COPY,   {"a"}, {"b"}, kNone, true,  "a=A b=A f/i=I l->b"},
        {"copy onto itself",          FO_COPY,   {"b"}, {"l"}, kNone, false, "a=A b=B f/i=I l->b"},
        {"a wildcard names nothing",  FO_COPY,   {"*"}, {"f/"}, kNone, false, "a=A b=B f/i=I l->b"},
        {"into a folder, numbered",   FO_COPY,   {"a", "a"}, {"f"}, kNumbered, true, "a=A b=B f/a=A f/a (2)=A f/i=I l->b"},
        {"paired destinations",       FO_COPY,   {"a", "b"}, {"x/1", "y/2"}, kNone, true, "a=A b=B f/i=I l->b x/1=A y/2=B"},
        {"a folder",                  FO_COPY,   {"f"}, {"c"}, kNone, true,  "a=A b=B c/i=I f/i=I l->b"},
        {"files only",                FO_COPY,   {"f"}, {"c"}, kFilesOnly, false, "a=A b=B f/i=I l->b"},
        {"move into a folder",        FO_MOVE,   {"a"}, {"f"}, kNone, true,  "b=B f/a=A f/i=I l->b"},
        {"a rename replaces nothing", FO_RENAME, {"b"}, {"a"}, kNone, false, "a=A b=B f/i=I l->b"},
        {"a rename, numbered",        FO_RENAME, {"b"}, {"a"}, kNumbered, true, "a=A a (2)=B f/i=I l->b"},
        {"delete, a folder with all", FO_DELETE, {"a", "f", "l"}, {}, kNone, true, "b=B"},
        {"nobody can answer: no",     FO_DELETE, {"a"}, {}, kAsking, false, "a=A b=B f/i=I l->b"},
    };
    // clang-format on
    for (const OperationRow& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        WriteFile(dir / "a", "A");
        WriteFile(dir / "b", "B");
        ::mkdir((dir / "f").c_str(), 0755);
        WriteFile(dir / "f/i", "I");
        ::symlink("b", (dir / "l").c_str());
        CSHFileOp op;
        op.SetRenameOnCollision((row.options & kNumbered) != 0);
        op.SetIncludeDirectories((row.options & kFilesOnly) == 0);
        op.SetConfirmOperation((row.options & kAsking) != 0);
        for (const std::string& source : row.sources)
            op.AddSourceFile(dir / source);
        for (const std::string& target : row.targets)
            op.AddDestFile(dir / target);
        const bool result = row.operation == FO_COPY     ? op.CopyFiles()
                            : row.operation == FO_MOVE   ? op.MoveFiles()
                            : row.operation == FO_RENAME ? op.RenameFiles()
                                                         : op.DeleteFiles();
        EXPECT_EQ(result, row.succeeds);
        EXPECT_EQ(Listing(dir.path()), row.after);
    }
}

TEST(CSHFileOp, EmptyListsAndNamesAndTheTrash) {
    CSHFileOp op;
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(op.ErrorDescription(), "No source files specified file operation");
    for (const bool emptySource : {true, false}) {
        CSHFileOp named;
        named.AddSourceFile(emptySource ? "" : "/etc/hostname");
        named.AddDestFile(emptySource ? "/tmp/x" : "");
        EXPECT_FALSE(named.CopyFiles() || named.ErrorNumber() != ENOENT);
    }

    TempDir dir;
    TempDir data;
    WriteFile(dir / "b.txt", "B");
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    op.SetAllowUndo(true);
    op.AddSourceFile(dir / "b.txt");
    EXPECT_TRUE(op.DeleteFiles());
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(ReadFile(data / "Trash/files/b.txt"), "B");
    EXPECT_NE(ReadFile(data / "Trash/info/b.txt.trashinfo").find("Path=" + dir.path() + "b.txt\n"),
              std::string::npos);
}

} // namespace
