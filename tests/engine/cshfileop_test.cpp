// The shell's four file operations with literal names, as one table, and the folder
// listings.

#include "cshfileop.h"
#include "file_list.h"
#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

struct OperationRow {
    const char* what;
    std::uint32_t operation;
    std::vector<std::string> sources, targets;
    std::function<void(CSHFileOp&)> options;
    bool succeeds;
    std::string after; // every file below the folder afterwards, as "name=content"
};

// "a.txt=A b.txt=B folder/in.txt=IN" for the folder's files; links as "name->target".
std::string Contents(const std::string& folder) {
    std::string listing;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (!entry.is_directory())
            names.push_back(entry.path().string().substr(folder.size()));
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::error_code link;
        const auto target = std::filesystem::read_symlink(folder + name, link);
        listing += (listing.empty() ? "" : " ") + name +
                   (link ? "=" + ReadFile(folder + name) : "->" + target.string());
    }
    return listing;
}

TEST(CSHFileOp, OperationsWithLiteralNames) {
    const auto none = [](CSHFileOp&) {};
    const OperationRow rows[] = {
        {"copy onto a file",
         FO_COPY,
         {"a.txt"},
         {"b.txt"},
         none,
         true,
         "a.txt=A b.txt=A folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"copy through a link",
         FO_COPY,
         {"a.txt"},
         {"link"},
         none,
         true,
         "a.txt=A b.txt=A folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"copy onto itself",
         FO_COPY,
         {"b.txt"},
         {"link"},
         none,
         false,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"a name with ? is a name",
         FO_COPY,
         {"news?.htm"},
         {"news?.bak"},
         none,
         true,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.bak=Q news?.htm=Q"},
        {"a wildcard names nothing",
         FO_COPY,
         {"*.txt"},
         {"folder/"},
         none,
         false,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"into a folder, colliding names numbered",
         FO_COPY,
         {"a.txt", "a.txt"},
         {"folder"},
         [](CSHFileOp& op) { op.SetRenameOnCollision(true); },
         true,
         "a.txt=A b.txt=B folder/a (2).txt=A folder/a.txt=A folder/in.txt=IN link->b.txt "
         "news?.htm=Q"},
        {"paired destinations",
         FO_COPY,
         {"a.txt", "b.txt"},
         {"x/one", "y/two"},
         none,
         true,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q x/one=A y/two=B"},
        {"a folder",
         FO_COPY,
         {"folder"},
         {"copy"},
         none,
         true,
         "a.txt=A b.txt=B copy/in.txt=IN folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"files only",
         FO_COPY,
         {"folder"},
         {"copy"},
         [](CSHFileOp& op) { op.SetIncludeDirectories(false); },
         false,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"move into a folder",
         FO_MOVE,
         {"a.txt"},
         {"folder"},
         none,
         true,
         "b.txt=B folder/a.txt=A folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"a rename replaces nothing",
         FO_RENAME,
         {"b.txt"},
         {"a.txt"},
         none,
         false,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"a rename onto a name taken is numbered",
         FO_RENAME,
         {"b.txt"},
         {"a.txt"},
         [](CSHFileOp& op) { op.SetRenameOnCollision(true); },
         true,
         "a (2).txt=B a.txt=A folder/in.txt=IN link->b.txt news?.htm=Q"},
        {"delete for good, a folder with all in it",
         FO_DELETE,
         {"a.txt", "folder", "link"},
         {},
         none,
         true,
         "b.txt=B news?.htm=Q"},
        {"nobody can answer a question: no",
         FO_DELETE,
         {"a.txt"},
         {},
         [](CSHFileOp& op) { op.SetConfirmOperation(true); },
         false,
         "a.txt=A b.txt=B folder/in.txt=IN link->b.txt news?.htm=Q"},
    };
    for (const OperationRow& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        WriteFile(dir / "a.txt", "A");
        WriteFile(dir / "b.txt", "B");
        WriteFile(dir / "news?.htm", "Q");
        ::mkdir((dir / "folder").c_str(), 0755);
        WriteFile(dir / "folder/in.txt", "IN");
        ::symlink("b.txt", (dir / "link").c_str());
        CSHFileOp op;
        row.options(op);
        for (const std::string& source : row.sources)
            op.AddSourceFile(dir / source);
        for (const std::string& target : row.targets)
            op.AddDestFile(dir / target);
        const bool result = row.operation == FO_COPY     ? op.CopyFiles()
                            : row.operation == FO_MOVE   ? op.MoveFiles()
                            : row.operation == FO_RENAME ? op.RenameFiles()
                                                         : op.DeleteFiles();
        EXPECT_EQ(result, row.succeeds);
        EXPECT_EQ(op.ErrorNumber() != 0, !row.succeeds);
        EXPECT_EQ(Contents(dir.path()), row.after);
    }
}

TEST(CSHFileOp, AnEmptySourceListAndTheTrash) {
    CSHFileOp op;
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(op.ErrorNumber(), static_cast<std::int32_t>(0x800403E8));
    EXPECT_EQ(op.ErrorDescription(), "No source files specified file operation");

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
