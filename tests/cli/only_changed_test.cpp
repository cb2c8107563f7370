#include "cli_runner.h"
#include "test_support.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace cli_testing;
using namespace testing_support;

namespace {

// A small nested site after a first refresh, every file dated an hour back, so that a
// page written again would show it in its modification time at any clock resolution.
class OnlyChangedCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(site / "sub/deeper");
        WriteFile(site / "nav.inc", "NAV\r\n");
        WriteFile(site / "sub/side.inc", "SIDE\n");
        WriteFile(site / "index.htm", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
        WriteFile(site / "plain.htm", "no blocks\r\n");
        WriteFile(site / "sub/page.htm", "<reririduruv=../nav.inc>\n</reririduruv>\n"
                                         "<reririduruv=side.inc>\n</reririduruv>\n");
        WriteFile(site / "sub/deeper/leaf.htm", "<reririduruv=../../nav.inc>\n</reririduruv>\n");
        const CliResult first = RunCli({"--recursive", site.path()});
        ASSERT_EQ(first.exitCode, 0) << first.err;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(site.path())) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0},
                                                  {::time(nullptr) - 3600, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), anHourAgo, 0), 0);
        }
    }

    const std::string usualList = "index.htm,1\nplain.htm,0\nsub/page.htm,2\n"
                                  "sub/deeper/leaf.htm,1\n>3 file(s) processed. \n"
                                  ">1 file(s) skipped.\n";
    TempDir site;
};

TEST_F(OnlyChangedCliTest, UpToDateSiteIsLeftExactlyAsItWas) {
    const std::string before = Snapshot(site.path());
    const CliResult result = RunCli({"--recursive", "--only-changed", "--backup", site.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, usualList);
    // Names, inodes, sizes, modification and change times: nothing was written or
    // replaced, and no backup or temporary file was made.
    EXPECT_EQ(Snapshot(site.path()), before);
}

TEST_F(OnlyChangedCliTest, UpToDateSiteCostsNoChangingSystemCall) {
    const std::string straceProblem = StraceProblem();
    ASSERT_EQ(straceProblem, "") << "this test needs strace: " << straceProblem;
    TempDir traces;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--recursive", "--only-changed"},
          {"--only-changed", "--backup"},
          {"--only-changed", "--check"}}) {
        std::vector<std::string> arguments = options;
        arguments.push_back(site.path());
        const CliResult result = RunCliTraced(arguments, traces / "trace.log");
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string log = ReadFile(traces / "trace.log");
        // The trace must have seen the run's own reads, or it proves nothing.
        ASSERT_NE(log.find("index.htm"), std::string::npos) << log.substr(0, 2000);
        EXPECT_EQ(ChangingCalls(traces / "trace.log"), std::vector<std::string>{})
            << options.front() << " " << options.back();
    }

    // The same check sees the writes of a refresh that rewrites every page.
    const CliResult result = RunCliTraced({"--recursive", site.path()}, traces / "trace.log");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_GE(ChangingCalls(traces / "trace.log").size(), 3u * 3u);
}

TEST_F(OnlyChangedCliTest, OnlyPagesThatChangeAreWritten) {
    WriteFile(site / "sub/side.inc", "NEW SIDE\n");
    struct stat indexBefore {};
    ::stat((site / "index.htm").c_str(), &indexBefore);

    const CliResult result = RunCli({"-r", "--only-changed", "--backup", site.path()});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, usualList);
    EXPECT_EQ(ReadFile(site / "sub/page.htm"), "<reririduruv=../nav.inc>NAV\n</reririduruv>\n"
                                               "<reririduruv=side.inc>NEW SIDE\n</reririduruv>\n");
    EXPECT_TRUE(Exists(site / "sub/page.bak"));
    EXPECT_FALSE(Exists(site / "index.bak"));
    EXPECT_FALSE(Exists(site / "sub/deeper/leaf.bak"));
    struct stat indexAfter {};
    ::stat((site / "index.htm").c_str(), &indexAfter);
    EXPECT_EQ(indexAfter.st_ino, indexBefore.st_ino);
    EXPECT_EQ(indexAfter.st_mtim.tv_sec, indexBefore.st_mtim.tv_sec);
}

TEST_F(OnlyChangedCliTest, ProblemsAreStillReported) {
    WriteFile(site / "sub/broken.htm", "<reririduruv=none.inc>\n</reririduruv>\n");
    const CliResult result = RunCli({"-r", "--only-changed", site.path()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.out, "index.htm,1\nplain.htm,0\n>sub/broken.htm,missing repl. file\n"
                          "sub/page.htm,2\nsub/deeper/leaf.htm,1\n>3 file(s) processed. \n"
                          ">2 file(s) skipped.\n");
    EXPECT_EQ(result.err, "Could not locate replacement file " + site.path() + "sub/none.inc\n");
}

TEST_F(OnlyChangedCliTest, WithoutTheOptionEveryPageWithBlocksIsWrittenAgain) {
    // As the window does: a refresh replaces each page that has a block, changed or not.
    struct stat before {};
    ::stat((site / "index.htm").c_str(), &before);
    const CliResult result = RunCli({"-r", site.path()});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, usualList);
    struct stat after {};
    ::stat((site / "index.htm").c_str(), &after);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_GT(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
}

} // namespace
