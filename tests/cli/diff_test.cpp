#include "cli_runner.h"
#include "test_support.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace cli_testing;
using namespace testing_support;

namespace {

class DiffTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(site / "sub");
        WriteFile(site / "nav.inc", "NAV 1\nNAV 2\n");
        WriteFile(site / "crlf.htm", "<html>\r\n<body>\r\n<reririduruv=nav.inc>\r\nold nav\r\n"
                                     "</reririduruv>\r\n<p>text</p>\r\n</body>\r\n</html>\r\n");
        // The refresh ends every line, the last one too.
        WriteFile(site / "sub/lf.htm", "top\n<reririduruv=../nav.inc></reririduruv>\nend");
        WriteFile(site / "same.htm", "<reririduruv=nav.inc>NAV 1\r\nNAV 2\r\n</reririduruv>\r\n");
    }
    TempDir site;
};

const char kCrLfDiff[] = "--- a/crlf.htm\n"
                         "+++ b/crlf.htm\n"
                         "@@ -1,7 +1,7 @@\n"
                         " <html>\r\n"
                         " <body>\r\n"
                         "-<reririduruv=nav.inc>\r\n"
                         "-old nav\r\n"
                         "+<reririduruv=nav.inc>NAV 1\r\n"
                         "+NAV 2\r\n"
                         " </reririduruv>\r\n"
                         " <p>text</p>\r\n"
                         " </body>\r\n";

const char kLfDiff[] = "--- a/sub/lf.htm\n"
                       "+++ b/sub/lf.htm\n"
                       "@@ -1,3 +1,5 @@\n"
                       " top\n"
                       "-<reririduruv=../nav.inc></reririduruv>\n"
                       "-end\n"
                       "\\ No newline at end of file\n"
                       "+<reririduruv=../nav.inc>NAV 1\n"
                       "+NAV 2\n"
                       "+</reririduruv>\n"
                       "+end\n";

TEST_F(DiffTest, EveryPageThatWouldChangeGetsItsDiffAndNothingIsWritten) {
    const std::string before = Snapshot(site.path());
    const CliResult result = RunCli({"--check", "--diff", "--recursive", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, std::string(kCrLfDiff) + kLfDiff + "crlf.htm\nsub/lf.htm\n");
    EXPECT_EQ(Snapshot(site.path()), before);
}

TEST_F(DiffTest, QuietLeavesOnlyTheDiffs) {
    const CliResult result = RunCli({"--check", "--diff", "--quiet", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, kCrLfDiff);
}

TEST_F(DiffTest, UpToDateSiteGivesNoDiff) {
    ASSERT_EQ(RunCli({"-r", site.path()}).exitCode, 0);
    const CliResult result = RunCli({"--check", "--diff", "-r", site.path()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
}

TEST_F(DiffTest, PagesWithProblemsGetNoDiff) {
    WriteFile(site / "crlf.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    const CliResult result = RunCli({"--check", "--diff", "-r", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, std::string(kLfDiff) + "sub/lf.htm\n");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() + "gone.inc\n");
}

} // namespace
