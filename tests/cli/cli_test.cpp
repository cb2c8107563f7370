#include "cli_runner.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <regex>
#include <set>
#include <sstream>

using namespace cli_testing;
using namespace testing_support;

namespace {

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
                                                      {"--log"},
                                                      {"--diff", site.path()},
                                                      {"--quiet", "--verbose", site.path()},
                                                      {"--recursive", site.path(), "a.html"}}) {
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

// The long option names in text, with roff's "\-" read as "-".
std::set<std::string> LongOptions(std::string text) {
    for (std::size_t at = text.find("\\-"); at != std::string::npos; at = text.find("\\-", at))
        text.erase(at, 1);
    std::set<std::string> options;
    const std::regex option("--[a-z][a-z-]*");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option);
         it != std::sregex_iterator(); ++it)
        options.insert(it->str());
    return options;
}

// The lines of a section of text: those after the line that starts with begin, up to the
// next line that starts with end (an empty end: the next empty line).
std::vector<std::string> Section(const std::string& text, const std::string& begin,
                                 const std::string& end) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (inside && (end.empty() ? line.empty() : line.compare(0, end.size(), end) == 0))
            break;
        if (inside)
            lines.push_back(line);
        inside = inside || line.compare(0, begin.size(), begin) == 0;
    }
    return lines;
}

TEST_F(CliTest, HelpListsEveryOptionOnOneLineAndTheManPageDescribesEachOfThem) {
    const CliResult help = RunCli({"--help"});
    ASSERT_EQ(help.exitCode, 0);
    const std::vector<std::string> optionLines = Section(help.out, "Options:", "");
    std::set<std::string> helpOptions;
    for (const std::string& line : optionLines) {
        // "  --name [VALUE]   description": no option's text runs on to a second line.
        std::smatch match;
        EXPECT_TRUE(
            std::regex_match(line, match, std::regex("  (-[a-z],)?(--[a-z-]+)( [A-Z]+)? +[^ -].*")))
            << "[" << line << "]";
        helpOptions.insert(match[2]);
    }
    EXPECT_EQ(helpOptions, (std::set<std::string>{"--all-files", "--backup", "--check", "--diff",
                                                  "--help", "--log", "--only-changed", "--quiet",
                                                  "--recursive", "--verbose", "--version"}));

    // The man page's option list (its tagged paragraphs) names the same options.
    const std::string manPage = ReadFile(MAN_PAGE_PATH);
    std::string tags;
    const std::vector<std::string> manLines = Section(manPage, ".SH OPTIONS", ".SH ");
    for (std::size_t i = 0; i + 1 < manLines.size(); ++i)
        if (manLines[i] == ".TP")
            tags += manLines[i + 1] + "\n";
    EXPECT_EQ(LongOptions(tags), helpOptions);
}

TEST_F(CliTest, QuietPrintsOnlyProblemsAndTheSummary) {
    WriteFile(site / "broken.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    CliResult result = RunCli({"--quiet", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, ">2 file(s) processed. \n>2 file(s) skipped.\n");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() + "gone.inc\n");
    EXPECT_EQ(ReadFile(site / "a.html"), "<reririduruv=nav.inc><nav/>\n</reririduruv>\n");

    // Checking quietly: the exit status tells, the problems are still shown.
    WriteFile(site / "a.html", "<reririduruv=nav.inc>\n</reririduruv>\n");
    result = RunCli({"-q", "--check", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() + "gone.inc\n");
}

TEST_F(CliTest, VerbosePrintsTheStatusTextsOfEveryPage) {
    CliResult result = RunCli({"--verbose", "--backup", site.path(), "index.HTM", "b.shtml"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "processing index.HTM...\n"
                          "processing index.HTM (backing up)...\n"
                          "processing index.HTM (saving new)...\n"
                          "index.HTM,1\n"
                          "processing b.shtml...\n"
                          "b.shtml,0\n"
                          ">1 file(s) processed. \n>1 file(s) skipped.\n");

    result = RunCli({"-v", "--check", site.path(), "index.HTM", "a.html"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "processing index.HTM...\nprocessing a.html...\na.html\n");
}

} // namespace
