// The command line's contract: what it prints where, its exit status, and what it does to
// a site, also when it is interrupted, its output is lost or the disk refuses.

#include "support.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <regex>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

using namespace testing_support;

namespace {

const std::string kCli = CLI_PATH;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(site / "nav.inc", "<nav/>\r\n");
        WriteFile(site / "index.HTM", "<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
        WriteFile(site / "a.html", "<reririduruv=nav.inc>\n</reririduruv>\n");
        WriteFile(site / "b.shtml", "no blocks\r\n");
        WriteFile(site / "notes.txt", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    }
    ProgramRun Cli(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), kCli);
        return RunProgram(arguments);
    }
    TempDir site;
    const std::string kIndexNew = "<reririduruv=nav.inc><nav/>\r\n</reririduruv>\r\n";
};

TEST_F(CliTest, RecursiveNamesPagesByTheirPathAndReportsUnreadableFolders) {
    for (const char* folder : {"blog", "blog/2026", ".git", "empty", "locked"})
        ::mkdir((site / folder).c_str(), 0755);
    WriteFile(site / "blog/2026/post.htm", "<reririduruv=..\\..\\nav.inc>\r\n</reririduruv>\r\n");
    WriteFile(site / "blog/broken.htm", "<reririduruv=../nav.inc>\r\n");
    WriteFile(site / ".git/hidden.htm", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    for (const char* name : {"blog/.hidden.htm", "blog/reririDuruv.tmp"})
        WriteFile(site / name, "<reririduruv=../nav.inc>\r\n</reririduruv>\r\n");
    ::symlink("2026/post.htm", (site / "blog/link.htm").c_str());
    ::symlink((site / "blog").c_str(), (site / "again").c_str());
    ::chmod((site / "locked").c_str(), 0);
    // Root reads every folder: the walk is made as another user, who owns the site.
    std::vector<std::string> command{kCli, "--recursive", site.path()};
    if (::geteuid() == 0) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(site.path()))
            ::lchown(entry.path().c_str(), 65534, 65534);
        ::chown(site.path().c_str(), 65534, 65534);
        command.insert(command.begin(),
                       {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    const ProgramRun run = RunProgram(command);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "a.html,1\nb.shtml,0\nindex.HTM,1\n>blog/broken.htm,unmatched tags\n"
                       ">blog/link.htm,missing repl. file\nblog/2026/post.htm,1\n"
                       ">3 file(s) processed. \n>3 file(s) skipped.\n");
    EXPECT_EQ(run.err, "reririduruv-cli: blog/broken.htm:1: Unmatched tags found in "
                       "blog/broken.htm\nreririduruv-cli: blog/link.htm:1: Could not locate "
                       "replacement file " +
                           site.path() +
                           "blog/../../nav.inc: No such file or directory\nreririduruv-cli: "
                           "Could not read folder " +
                           site.path() + "locked/: Permission denied\n");
    EXPECT_EQ(ReadFile(site / ".git/hidden.htm"), "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
}

// The command line's answers, as one table: a command line (run by the shell where it needs
// one), its exit status, output and error output. "SITE/" stands for the site's folder, "CLI"
// for the program.
TEST_F(CliTest, CommandLinesAndWhatTheyAnswer) {
    WriteFile(site / "broken.htm", "a\r\n<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    WriteFile(site / "big.htm",
              "<reririduruv=nav.inc>\r\n</reririduruv>\r\n" + std::string(4000, 'x'));
    WriteFile(site / "x\ny.htm", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    ::mkdir((site / "partials").c_str(), 0755);
    WriteFile(site / "partials/p.htm", "<reririduruv=../nav.inc>\r\n</reririduruv>\r\n");
    ::mkfifo((site / "fifo").c_str(), 0644);
    const std::string help = "Try 'reririduruv-cli --help' for more information.\n";
    const std::string stale = "reririduruv-cli: 1 page is out of date; refresh it with: "
                              "reririduruv-cli --only-changed SITE/ -- a.html ";
    struct Row {
        std::vector<std::string> command;
        int status;
        std::string out, err;
    };
    // clang-format off
    const Row rows[] = {
        {{}, 2, "", "reririduruv-cli: FOLDER is required\n" + help},
        {{"SITE/", "-dash.htm"}, 2, "", "reririduruv-cli: The following argument was not expected: -dash.htm\n"
         "reririduruv-cli: a FOLDER or PAGE whose name starts with '-' goes after '--'\n" + help},
        {{"SITE/a.html"}, 2, "", "reririduruv-cli: not a folder: SITE/a.html\n"},
        {{"SITE/gone"}, 2, "", "reririduruv-cli: folder not found: SITE/gone\n"},
        {{"SITE/", ""}, 2, "", "reririduruv-cli: an empty PAGE names no file of FOLDER\n"},
        {{"--recursive", "SITE/", "a.html"}, 2, "", "reririduruv-cli: --recursive takes every page below FOLDER, so no PAGE\n"},
        {{"--log", "SITE/fifo", "SITE/"}, 2, "", "reririduruv-cli: the log must be an ordinary file: SITE/fifo is a FIFO\n"},
        {{"--log", "SITE/a.html", "SITE/"}, 2, "", "reririduruv-cli: the log cannot be one of the pages: SITE/a.html\n"},
        {{"--check", "--quiet", "SITE/", "a.html", "b.shtml"}, 1, "", stale + "b.shtml\n"},
        {{"--check", "SITE/", "a.html", "broken.htm"}, 4, "a.html\n", "reririduruv-cli: broken.htm:2: Could not locate "
         "replacement file SITE/gone.inc: No such file or directory\n" + stale + "broken.htm\n"},
        {{"bash", "-c", "exec CLI --help > /dev/full"}, 3, "", "reririduruv-cli: could not write the output: No space left on device\n"},
        {{"bash", "-c", "ulimit -f 1; exec CLI SITE/ big.htm"}, 1, ">big.htm,create error\n>0 file(s) processed. \n>1 file(s) skipped.\n",
         "reririduruv-cli: big.htm: Could not create replaced file big.htm: File too large\n"},
        {{"--check", "--diff", "SITE/", "a.html", "b.shtml"}, 1, "--- a/a.html\n+++ b/a.html\n@@ -1,2 +1,2 @@\n"
         "-<reririduruv=nav.inc>\n+<reririduruv=nav.inc><nav/>\n </reririduruv>\na.html\n", stale + "b.shtml\n"},
        {{"SITE/", "broken.htm", "missing.htm", "a.html"}, 1, ">broken.htm,missing repl. file\n>missing.htm,read error\n"
         "a.html,1\n>1 file(s) processed. \n>2 file(s) skipped.\n", "reririduruv-cli: broken.htm:2: Could not locate "
         "replacement file SITE/gone.inc: No such file or directory\nreririduruv-cli: missing.htm: Could not read file "
         "missing.htm: No such file or directory\n"},
        {{"bash", "-c", "CLI --quiet --log SITE/log SITE/ broken.htm; tail -n 1 SITE/log"}, 0, ">0 file(s) processed. \n"
         ">1 file(s) skipped.\n -Could not locate replacement file SITE/gone.inc in broken.htm\r\n", ""},
        {{"bash", "-c", "exec CLI SITE/ a.html > /dev/full"}, 3, "", "reririduruv-cli: could not write the list: No space left on device\n"},
        {{"bash", "-c", "set -o pipefail; CLI SITE/ a.html | true"}, 3, "", "reririduruv-cli: could not write the list: Broken pipe\n"},
        {{"--recursive", "--exclude", "partials", "--exclude", "*.HTM", "--exclude", "b*", "SITE/"}, 0,
         "a.html,1\nx\\ny.htm,1\n>2 file(s) processed. \n>0 file(s) skipped.\n", ""},
        {{"--check", "SITE/", "a.html", "x\ny.htm"}, 0, "", ""},
        {{"--all-files", "--quiet", "--backup", "SITE/", "notes.txt"}, 0, ">1 file(s) processed. \n>0 file(s) skipped.\n", ""},
        {{"--verbose", "--backup", "SITE/", "a.html"}, 0, "processing a.html...\nprocessing a.html (backing up)...\n"
         "processing a.html (saving new)...\na.html,1\n>1 file(s) processed. \n>0 file(s) skipped.\n", ""},
        {{"--exclude", "big.htm", "SITE/"}, 1, "a.html,1\nb.shtml,0\n>broken.htm,missing repl. file\nindex.HTM,1\n"
         "x\\ny.htm,1\n>3 file(s) processed. \n>2 file(s) skipped.\n", "reririduruv-cli: broken.htm:2: Could not locate replacement "
         "file SITE/gone.inc: No such file or directory\n"},
    };
    // clang-format on
    const auto expand = [&](std::string text) {
        text = std::regex_replace(text, std::regex("SITE/"), site.path());
        return std::regex_replace(text, std::regex("CLI"), kCli);
    };
    for (const Row& row : rows) {
        std::vector<std::string> command;
        if (row.command.empty() || row.command[0] != "bash")
            command.push_back(kCli);
        for (const std::string& word : row.command)
            command.push_back(expand(word));
        const ProgramRun run = RunProgram(command);
        EXPECT_EQ(run.status, row.status) << ::testing::PrintToString(command);
        EXPECT_EQ(run.out, expand(row.out));
        EXPECT_EQ(run.err, expand(row.err));
    }
    EXPECT_EQ(ReadFile(site / "big.htm").size(), 4039u) << "the page past the limit is as it was";
    EXPECT_EQ(ReadFile(site / "partials/p.htm"), "<reririduruv=../nav.inc>\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(site / "notes.bak"), "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    // Up to date: an only-changed run leaves the page alone, its modification time kept.
    const long before = Modified(site / "index.HTM");
    ASSERT_EQ(RunProgram({kCli, "--only-changed", site.path()}).status, 1);
    EXPECT_EQ(Modified(site / "index.HTM"), before);
}

// The run waits for the folder another run holds, says so, and is stopped there.
TEST_F(CliTest, SignalsStopTheRunBeforeTheNextLine) {
    const int held = ::open(site.path().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        Program cli({kCli, site.path(), "index.HTM"});
        for (int tries = 0; tries < 2000 && cli.err().empty(); ++tries) // 20 s at most
            ::usleep(10 * 1000);
        EXPECT_EQ(cli.err(),
                  "reririduruv-cli: waiting for another run in " + site.path() + "...\n");
        cli.Signal(signal);
        const ProgramRun run = cli.Wait();
        EXPECT_EQ(run.status, 130) << signal;
        EXPECT_EQ(run.out, ">>processing aborted!\n>0 file(s) processed. \n>0 file(s) skipped.\n");
        EXPECT_EQ(ReadFile(site / "index.HTM"),
                  "<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
    }
    ::close(held);
}

// The real thing where only the real thing proves it: a user who may not give a page away.
TEST_F(CliTest, ThePageKeepsItsOwnerGroupModeAndAttributesOrIsLeft) {
    REQUIRE_ROOT();
    const std::string page = site / "index.HTM";
    ::chmod(site.path().c_str(), 0755); // the owner reads the include files through it
    ::chown(page.c_str(), 1234, 4321);
    ::chmod(page.c_str(), 02664);
    if (::setxattr(page.c_str(), "user.origin", "hand", 4, 0) != 0)
        GTEST_SKIP() << "this file system keeps no extended attributes";
    ASSERT_EQ(Cli({"--backup", site.path(), "index.HTM"}).status, 0);
    for (const std::string& name : {page, site / "index.bak"}) {
        const struct stat st = StatusOf(name);
        EXPECT_EQ(st.st_uid * 10000 + st.st_gid, 1234u * 10000 + 4321u) << name;
        EXPECT_EQ(st.st_mode & 07777, 02664u) << name;
        char value[8] = {};
        EXPECT_EQ(::getxattr(name.c_str(), "user.origin", value, sizeof value), 4) << name;
    }
    // A user who may not give a page away keeps its group where they belong to it.
    WriteFile(page, "<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
    ::chmod(site.path().c_str(), 0777);
    ::chown((site / "a.html").c_str(), 0, 999);
    ::chmod((site / "a.html").c_str(), 0664);
    const ProgramRun run = RunProgram({"setpriv", "--reuid=65534", "--regid=65534", "--groups=4321",
                                       kCli, site.path(), "index.HTM", "a.html"});
    EXPECT_EQ(run.out,
              "index.HTM,1\n>a.html,create error\n>1 file(s) processed. \n>1 file(s) skipped.\n")
        << run.err;
    EXPECT_EQ(StatusOf(page).st_gid, 4321u);
    EXPECT_EQ(ReadFile(page), kIndexNew);
    EXPECT_EQ(ReadFile(site / "a.html"), "<reririduruv=nav.inc>\n</reririduruv>\n");
}

} // namespace
