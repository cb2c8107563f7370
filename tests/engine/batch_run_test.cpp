// The batch run: its order of events, abort, the error log, the summary.

#include "batch_run.h"
#include "mod_global.h"
#include "support.h"
#include "wording.h"

#include <gtest/gtest.h>
#include <regex>

using namespace testing_support;

namespace {

class BatchRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir / "nav.inc", "nav\r\n");
        WriteFile(dir / "a.htm", "<reririduruv=nav.inc>\r\n</reririduruv>\r\n");
        WriteFile(dir / "b.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
        WriteFile(dir / "c.htm", "line 1\r\nline 2\r\nline 3\r\n");
        modGlobal::SetLogFile(logs / "sub/error.log");
    }
    const std::vector<BatchEntry> entries{
        {"a.htm", true}, {"b.htm", true}, {"c.htm", false}, {"c.htm", true}};
    TempDir dir;
    TempDir logs;
};

// A page's events come in order, a problem right before its page's entry, and the run's
// closing after every page (the flushes of pages overlap, so pages may interleave).
TEST_F(BatchRunTest, EveryPageThenTheRunsClosing) {
    WriteFile(dir / modGlobal::kTempFileName, "left by an aborted run");
    RecordingHost host(dir.path());
    RunBatch(host, entries);
    const auto at = [&](const std::string& event) {
        return std::find(host.events.begin(), host.events.end(), event) - host.events.begin();
    };
    EXPECT_LT(at("stage:processing a.htm..."), at("stage:processing a.htm (saving new)..."));
    EXPECT_LT(at("stage:processing a.htm (saving new)..."), at("entry:a.htm,1"));
    EXPECT_EQ(at("problem:Could not locate replacement file " + dir.path() + "gone.inc") + 1,
              at("entry:>b.htm,missing repl. file"));
    EXPECT_EQ(std::vector<std::string>(host.events.end() - 3, host.events.end()),
              (std::vector<std::string>{"recent", "end", "closed:done"}));
    EXPECT_EQ(host.entries,
              (std::vector<std::string>{"a.htm,1", ">b.htm,missing repl. file", "c.htm,0",
                                        ">1 file(s) processed. ", ">2 file(s) skipped."}));
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{"a.htm", "b.htm", "c.htm", "nav.inc"}));
    EXPECT_FALSE(Exists(logs / "sub/error.log")) << "problems go to boxes, not the log";
}

TEST_F(BatchRunTest, AbortStopsBeforeTheNextLineAndLeavesThePageAsItWas) {
    RecordingHost host(dir.path());
    int lines = 0;
    host.onDoEvents = [&](RecordingHost& h) {
        if (h.events.back() == "stage:processing c.htm..." && ++lines == 2)
            h.state.AbortRequested = true;
    };
    WriteFile(dir / "c.htm", "first\r\n<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
    const BatchSummary summary = RunBatch(host, {{"c.htm", true}, {"a.htm", true}});
    EXPECT_TRUE(summary.aborted);
    EXPECT_EQ(ReadFile(dir / "c.htm"),
              "first\r\n<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n");
    EXPECT_EQ(host.entries,
              (std::vector<std::string>{">>processing aborted!", ">0 file(s) processed. ",
                                        ">0 file(s) skipped."}));
    EXPECT_FALSE(Exists(dir / modGlobal::kTempFileName)) << "the run removes the temporary file";
}

// Each run's problems go after a header of its own; a log that cannot be written loses no
// report: it is shown instead.
TEST_F(BatchRunTest, WithErrorMessagesOffProblemsGoToTheLogAfterAHeader) {
    RecordingHost host(dir.path());
    host.errMsgOff = true;
    RunBatch(host, entries);
    RunBatch(host, {{"b.htm", true}});
    EXPECT_TRUE(host.problems.empty());
    const std::string header = " \r\nProcessing path: " + dir.path() +
                               " - ([1-9]|1[0-2])/([1-9]|[12][0-9]|3[01])/[0-9]{2} "
                               "(0[1-9]|1[0-2]):[0-5][0-9] (AM|PM)\r\n";
    const std::string line =
        " -Could not locate replacement file " + dir.path() + "gone.inc in b.htm\r\n";
    EXPECT_TRUE(std::regex_match(ReadFile(logs / "sub/error.log"),
                                 std::regex("(" + header + line + "){2}")))
        << ReadFile(logs / "sub/error.log");
    modGlobal::SetLogFile(dir / "c.htm/error.log");
    RunBatch(host, {{"b.htm", true}});
    EXPECT_EQ(host.problems.size(), 1u);
}

TEST(LogHeaderLine, DateAndTimeForms) {
    // clang-format off
    const std::vector<std::tuple<int, int, int, int, std::string>> rows = {
        {99, 2, 7, 21, "3/7/99 09:05 PM"}, {99, 2, 7, 0, "3/7/99 12:05 AM"},
        {126, 11, 25, 12, "12/25/26 12:05 PM"}, {100, 0, 1, 9, "1/1/00 09:05 AM"}};
    // clang-format on
    for (const auto& [year, month, day, hour, stamp] : rows) {
        std::tm when{};
        when.tm_year = year, when.tm_mon = month, when.tm_mday = day, when.tm_hour = hour;
        when.tm_min = 5;
        EXPECT_EQ(LogHeaderLine("C:/web/", when), "Processing path: C:/web/ - " + stamp);
    }
}

TEST(BackupPathOf, TheLastDotOfThePagesOwnName) {
    EXPECT_EQ(BackupPathOf("/s/index.htm"), "/s/index.bak");
    EXPECT_EQ(BackupPathOf("/s/news.shtml"), "/s/news.bak");
    EXPECT_EQ(BackupPathOf("/s/a.b.html"), "/s/a.b.bak");
    EXPECT_EQ(BackupPathOf("/s.d/README"), "/s.d/README.bak");
}

} // namespace
