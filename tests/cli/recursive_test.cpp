#include "cli_runner.h"
#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

using namespace cli_testing;
using namespace testing_support;

namespace {

// A site whose pages name include files in their own folder, in folders above it (also
// with Windows separators) and by a path from the site's top.
class RecursiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* folder : {"inc", "about", "Blog/2026", "zeta/inner", ".git", "empty"})
            std::filesystem::create_directories(site / folder);
        WriteFile(site / "inc/head.inc", "HEAD\r\n");
        WriteFile(site / "index.htm", "<reririduruv=inc/head.inc>\r\nold\r\n</reririduruv>\r\n");
        WriteFile(site / "about/plain.htm", "no blocks\n");
        WriteFile(site / "Blog/local.inc", "LOCAL\n");
        WriteFile(site / "Blog/post.html", "<reririduruv=../inc/head.inc>\n</reririduruv>\n"
                                           "<reririduruv=local.inc>\n</reririduruv>\n");
        WriteFile(site / "Blog/2026/deep.htm", "<reririduruv=..\\..\\inc\\head.inc></reririduruv>\n"
                                               "<reririduruv=../local.inc>stale</reririduruv>\n");
        WriteFile(site / "zeta/inner/z.htm",
                  "<reririduruv=../../inc/head.inc>\r\n</reririduruv>\r\n");
        WriteFile(site / ".git/hidden.htm", hidden);
        // Links to folders are never followed: one to a folder of the site and one that
        // would loop for ever.
        ::symlink("Blog", (site / "mirror").c_str());
        ::symlink("../..", (site / "Blog/2026/up").c_str());
    }

    // Every name below the site, hidden ones included, links not followed.
    std::vector<std::string> AllNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(site.path()))
            names.push_back(entry.path().string().substr(site.path().size()));
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::string hidden = "<reririduruv=../inc/head.inc>\r\n</reririduruv>\r\n";
    TempDir site;
};

TEST_F(RecursiveTest, EveryPageIsRefreshedInItsOwnFolder) {
    const std::vector<std::string> namesBefore = AllNames();
    const CliResult result = RunCli({"--recursive", site.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");
    // A folder's pages, then its sub-folders in the file list's order; folders without
    // pages give no entry, and the summary counts the whole site once.
    EXPECT_EQ(result.out, "index.htm,1\n"
                          "about/plain.htm,0\n"
                          "Blog/post.html,2\n"
                          "Blog/2026/deep.htm,2\n"
                          "zeta/inner/z.htm,1\n"
                          ">4 file(s) processed. \n"
                          ">1 file(s) skipped.\n");
    EXPECT_EQ(ReadFile(site / "index.htm"), "<reririduruv=inc/head.inc>HEAD\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(site / "Blog/post.html"),
              "<reririduruv=../inc/head.inc>HEAD\n</reririduruv>\n"
              "<reririduruv=local.inc>LOCAL\n</reririduruv>\n");
    EXPECT_EQ(ReadFile(site / "Blog/2026/deep.htm"),
              "<reririduruv=..\\..\\inc\\head.inc>HEAD\n</reririduruv>\n"
              "<reririduruv=../local.inc>LOCAL\n</reririduruv>\n");
    EXPECT_EQ(ReadFile(site / "zeta/inner/z.htm"),
              "<reririduruv=../../inc/head.inc>HEAD\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(site / ".git/hidden.htm"), hidden);
    // No temporary file, backup or anything else is left anywhere.
    EXPECT_EQ(AllNames(), namesBefore);
}

TEST_F(RecursiveTest, CheckNamesThePagesByTheirPathInTheSite) {
    const std::string before = Snapshot(site.path());
    const CliResult result = RunCli({"--recursive", "--check", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "index.htm\nBlog/post.html\nBlog/2026/deep.htm\nzeta/inner/z.htm\n");
    EXPECT_EQ(Snapshot(site.path()), before);
}

TEST_F(RecursiveTest, ProblemsNameThePageByItsPathInTheSite) {
    WriteFile(site / "Blog/2026/bad.htm", "<reririduruv=../local.inc>\n");
    WriteFile(site / "zeta/inner/gone.htm", "<reririduruv=gone.inc></reririduruv>\n");
    const CliResult result = RunCli({"-r", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "index.htm,1\n"
                          "about/plain.htm,0\n"
                          "Blog/post.html,2\n"
                          ">Blog/2026/bad.htm,unmatched tags\n"
                          "Blog/2026/deep.htm,2\n"
                          ">zeta/inner/gone.htm,missing repl. file\n"
                          "zeta/inner/z.htm,1\n"
                          ">4 file(s) processed. \n"
                          ">3 file(s) skipped.\n");
    EXPECT_EQ(result.err, "Unmatched tags found in Blog/2026/bad.htm\n"
                          "Could not locate replacement file " +
                              site.path() + "zeta/inner/gone.inc\n");
}

TEST_F(RecursiveTest, LogGetsTheRunHeaderOfEveryFolderWithPages) {
    WriteFile(site / "Blog/2026/bad.htm", "<reririduruv=../local.inc>\n");
    TempDir logs;
    const CliResult result = RunCli({"-r", "--log", logs / "error.log", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    std::string expected;
    for (const char* folder : {"", "about/", "Blog/", "Blog/2026/", "zeta/inner/"}) {
        expected += " \r\nProcessing path: " + site.path() + folder +
                    " - [0-9/]+ [0-9]{2}:[0-9]{2} [AP]M\r\n";
        if (std::string(folder) == "Blog/2026/")
            expected += " -Unmatched tags found in bad.htm\r\n";
    }
    EXPECT_TRUE(std::regex_match(ReadFile(logs / "error.log"), std::regex(expected)))
        << ReadFile(logs / "error.log");
}

TEST_F(RecursiveTest, LeftoverTemporaryFileOfASubFolderIsRemoved) {
    WriteFile(site / "Blog/reririDuruv.tmp", "from a killed run");
    EXPECT_EQ(RunCli({"-r", "--only-changed", site.path()}).exitCode, 0);
    EXPECT_FALSE(Exists(site / "Blog/reririDuruv.tmp"));
}

TEST_F(RecursiveTest, AllFilesTakesEveryFileOfEveryFolder) {
    const CliResult result = RunCli({"-r", "--all-files", "--check", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "index.htm\nBlog/post.html\nBlog/2026/deep.htm\nzeta/inner/z.htm\n");
    const CliResult list = RunCli({"-r", "--all-files", site.path()});
    EXPECT_EQ(list.out, "index.htm,1\n"
                        "about/plain.htm,0\n"
                        "Blog/local.inc,0\n"
                        "Blog/post.html,2\n"
                        "Blog/2026/deep.htm,2\n"
                        "inc/head.inc,0\n"
                        "zeta/inner/z.htm,1\n"
                        ">4 file(s) processed. \n"
                        ">3 file(s) skipped.\n");
}

TEST_F(RecursiveTest, WithoutTheOptionOnlyTheFolderItselfIsProcessed) {
    const CliResult result = RunCli({site.path()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "index.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.\n");
    EXPECT_EQ(ReadFile(site / "zeta/inner/z.htm"),
              "<reririduruv=../../inc/head.inc>\r\n</reririduruv>\r\n");
}

} // namespace
