#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

CliResult RunCli(const std::vector<std::string>& arguments) {
    TempDir streams;
    const std::string outPath = streams / "out";
    const std::string errPath = streams / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::dup2(in, STDIN_FILENO);
        std::vector<char*> argv{const_cast<char*>(CLI_PATH)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(CLI_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(site / "nav.inc", "<nav/>\r\n");
        WriteFile(site / "index.HTM", "<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
        WriteFile(site / "a.html", "<reririduruv=nav.inc>\n</reririduruv>\n");
        WriteFile(site / "b.shtml", "no blocks\r\n");
        WriteFile(site / "notes.txt", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    }
    TempDir site;
};

// Names, sizes and modification times of everything in a folder.
std::string Snapshot(const std::string& folder) {
    std::string snapshot;
    for (const std::string& name : FolderNames(folder)) {
        struct stat st {};
        ::lstat((folder + name).c_str(), &st);
        snapshot += name + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_ino) +
                    " " + std::to_string(st.st_mtim.tv_sec) + "." +
                    std::to_string(st.st_mtim.tv_nsec) + "\n";
    }
    return snapshot;
}

TEST_F(CliTest, RefreshesTheHtmlPagesInListOrder) {
    const CliResult result = RunCli({site.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "a.html,1\nb.shtml,0\nindex.HTM,1\n>2 file(s) processed. \n>1 file(s) skipped.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(ReadFile(site / "index.HTM"), "<reririduruv=nav.inc><nav/>\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(site / "a.html"), "<reririduruv=nav.inc><nav/>\n</reririduruv>\n");
    EXPECT_EQ(ReadFile(site / "notes.txt"), "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
    EXPECT_FALSE(Exists(site / "reririDuruv.tmp"));
}

TEST_F(CliTest, AllFilesAndNamedPages) {
    CliResult result = RunCli({"--all-files", site.path()});
    EXPECT_EQ(result.out, "a.html,1\nb.shtml,0\nindex.HTM,1\nnav.inc,0\nnotes.txt,1\n"
                          ">3 file(s) processed. \n>2 file(s) skipped.\n");

    result = RunCli({site.path(), "notes.txt", "a.html"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "notes.txt,1\na.html,1\n>2 file(s) processed. \n>0 file(s) skipped.\n");
}

TEST_F(CliTest, FolderWithoutTrailingSlashAndRelativeFolder) {
    std::string folder = site.path();
    folder.pop_back();
    EXPECT_EQ(RunCli({folder, "a.html"}).exitCode, 0);
}

TEST_F(CliTest, ProblemsGoToStderrAndSetTheExitStatus) {
    WriteFile(site / "broken.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    const CliResult result = RunCli({site.path(), "broken.htm", "missing.htm", "a.html"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, ">broken.htm,missing repl. file\n>missing.htm,read error\na.html,1\n"
                          ">1 file(s) processed. \n>2 file(s) skipped.\n");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() +
                              "gone.inc\nCould not read file missing.htm\n");
}

TEST_F(CliTest, LogTakesTheProblemsInTheLogFormat) {
    WriteFile(site / "broken.htm", "<reririduruv=gone.inc>\r\n");
    TempDir logs;
    WriteFile(logs / "error.log", "earlier\r\n");
    const CliResult result = RunCli({"--log", logs / "error.log", site.path(), "broken.htm"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    const std::regex format(
        "earlier\r\n \r\nProcessing path: " + site.path() +
        " - ([1-9]|1[0-2])/([1-9]|[12][0-9]|3[01])/[0-9]{2} (0[1-9]|1[0-2]):[0-5][0-9] (AM|PM)\r\n"
        " -Could not locate replacement file " +
        site.path() + "gone.inc in broken.htm\r\n");
    EXPECT_TRUE(std::regex_match(ReadFile(logs / "error.log"), format))
        << ReadFile(logs / "error.log");
}

TEST_F(CliTest, BackupKeepsTheOriginals) {
    const std::string original = ReadFile(site / "index.HTM");
    EXPECT_EQ(RunCli({"--backup", site.path()}).exitCode, 0);
    EXPECT_EQ(ReadFile(site / "index.bak"), original);
    EXPECT_TRUE(Exists(site / "a.bak"));
    EXPECT_FALSE(Exists(site / "b.bak"));
}

TEST_F(CliTest, CheckListsPagesThatWouldChangeAndChangesNothing) {
    const std::string before = Snapshot(site.path());
    CliResult result = RunCli({"--check", "--backup", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "a.html\nindex.HTM\n");
    EXPECT_EQ(Snapshot(site.path()), before);

    ASSERT_EQ(RunCli({site.path()}).exitCode, 0);
    result = RunCli({"--check", site.path()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
}

TEST_F(CliTest, CheckReportsProblems) {
    WriteFile(site / "broken.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    ASSERT_EQ(RunCli({site.path()}).exitCode, 1);
    const CliResult result = RunCli({"--check", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() + "gone.inc\n");
}

TEST_F(CliTest, WrongUsageExitsWithTwo) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {"--no-such-option", site.path()},
                                                      {site / "not-there"},
                                                      {site / "a.html"},
                                                      {site.path(), "../a.html"},
                                                      {"--log"}}) {
        const CliResult result = RunCli(arguments);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err, "");
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(ReadFile(site / "a.html"), "<reririduruv=nav.inc>\n</reririduruv>\n");
}

TEST_F(CliTest, HelpAndVersion) {
    CliResult result = RunCli({"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const char* option :
         {"--backup", "--log", "--all-files", "--check", "--help", "--version"})
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    result = RunCli({"--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(
        std::regex_search(result.out, std::regex("^reririduruv-cli [0-9]+\\.[0-9]+\\.[0-9]+")));
}

} // namespace
