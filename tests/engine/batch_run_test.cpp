#include "batch_run.h"
#include "mod_global.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <regex>

using namespace testing_support;

namespace {

class BatchRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.folder = dir.path();
        modGlobal::SetLogFile(dir / "error.log");
        WriteFile(dir / "i.inc", "new\r\n");
        for (const char* name : {"1.htm", "2.htm", "3.htm", "4.htm", "5.htm"})
            WriteFile(dir / name, page);
    }
    std::vector<BatchEntry> All() {
        return {
            {"1.htm", true}, {"2.htm", true}, {"3.htm", true}, {"4.htm", true}, {"5.htm", true}};
    }

    const std::string page = "a\r\n<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\nb\r\n";
    const std::string refreshed = "a\r\n<reririduruv=i.inc>new\r\n</reririduruv>\r\nb\r\n";
    TempDir dir;
    RecordingHost host;
};

TEST_F(BatchRunTest, RunsSelectedEntriesAndSummarises) {
    host.processed = {"from the last run"};
    std::vector<BatchEntry> entries = All();
    entries[1].selected = false;
    WriteFile(dir / "4.htm", "no block\r\n");
    const BatchSummary summary = RunBatch(host, entries);

    EXPECT_FALSE(summary.aborted);
    EXPECT_EQ(summary.problems, 0);
    EXPECT_EQ(host.processed,
              (std::vector<std::string>{"1.htm,1", "3.htm,1", "4.htm,0", "5.htm,1",
                                        ">3 file(s) processed. ", ">1 file(s) skipped."}));
    EXPECT_EQ(host.calls, (std::vector<std::string>{"runStarted", "UpdateRecentFolders", "runEnded",
                                                    "closing:done"}));
    EXPECT_EQ(ReadFile(dir / "2.htm"), page);
    EXPECT_EQ(ReadFile(dir / "5.htm"), refreshed);
    EXPECT_EQ(host.status, "");
    EXPECT_FALSE(Exists(dir / "error.log"));
}

TEST_F(BatchRunTest, AbortInTheSecondPageStopsTheRun) {
    int pumps = 0;
    host.onDoEvents = [&pumps](RecordingHost& h) {
        // Page 1 takes three pumps (none inside its block), the run one after it; the
        // sixth falls on page 2's second line.
        if (++pumps == 6)
            h.state.AbortRequested = true;
    };
    const BatchSummary summary = RunBatch(host, All());
    EXPECT_TRUE(summary.aborted);
    EXPECT_EQ(host.processed,
              (std::vector<std::string>{"1.htm,1", ">>processing aborted!",
                                        ">1 file(s) processed. ", ">0 file(s) skipped."}));
    EXPECT_EQ(host.calls.back(), "closing:aborted");
    EXPECT_EQ(ReadFile(dir / "1.htm"), refreshed);
    EXPECT_EQ(ReadFile(dir / "2.htm"), page);
    EXPECT_EQ(ReadFile(dir / "3.htm"), page);
    EXPECT_FALSE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(BatchRunTest, AbortIsCheckedAfterUnselectedEntriesToo) {
    std::vector<BatchEntry> entries = All();
    for (auto& entry : entries)
        entry.selected = false;
    host.onDoEvents = [](RecordingHost& h) { h.state.AbortRequested = true; };
    RunBatch(host, entries);
    EXPECT_EQ(host.eventPumps, 1);
}

TEST_F(BatchRunTest, ErrorMessagesOffWritesTheRunHeader) {
    host.errMsgOff = true;
    WriteFile(dir / "2.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    const BatchSummary summary = RunBatch(host, All());
    EXPECT_EQ(summary.problems, 1);
    EXPECT_TRUE(host.problems.empty());
    const std::regex log(" \r\nProcessing path: " + dir.path() +
                         " - [0-9]{1,2}/[0-9]{1,2}/[0-9]{2} [0-9]{2}:[0-9]{2} [AP]M\r\n"
                         " -Could not locate replacement file " +
                         dir.path() + "gone.inc in 2.htm\r\n");
    EXPECT_TRUE(std::regex_match(ReadFile(dir / "error.log"), log)) << ReadFile(dir / "error.log");
}

TEST_F(BatchRunTest, LeftoverTemporaryFileIsRemoved) {
    WriteFile(dir / "reririDuruv.tmp", "from a crash");
    RunBatch(host, {{"1.htm", false}});
    EXPECT_FALSE(Exists(dir / "reririDuruv.tmp"));
}

// Tells the host of every page the pass went over, with its outcome.
class OutcomeRecordingHost : public RecordingHost {
  public:
    std::vector<std::string> finished;
    void pageFinished(const std::string& pageName, const PageOutcome& outcome) override {
        finished.push_back(pageName + (outcome.upToDate ? " up to date" : "") +
                           (outcome.wouldChange ? " would change" : ""));
    }
};

TEST_F(BatchRunTest, HostHearsOfEveryPageWithItsOutcome) {
    OutcomeRecordingHost recording;
    recording.folder = dir.path();
    WriteFile(dir / "3.htm", refreshed);
    std::vector<BatchEntry> entries = All();
    entries[1].selected = false;
    PassOptions check;
    check.checkOnly = true;
    RunBatch(recording, entries, check);
    EXPECT_EQ(recording.finished,
              (std::vector<std::string>{"1.htm would change", "3.htm", "4.htm would change",
                                        "5.htm would change"}));

    recording.finished.clear();
    PassOptions onlyChanged;
    onlyChanged.onlyChanged = true;
    const BatchSummary summary = RunBatch(recording, entries, onlyChanged);
    EXPECT_EQ(summary.problems, 0);
    EXPECT_EQ(recording.finished,
              (std::vector<std::string>{"1.htm", "3.htm up to date", "4.htm", "5.htm"}));
    EXPECT_EQ(recording.processed,
              (std::vector<std::string>{"1.htm,1", "3.htm,1", "4.htm,1", "5.htm,1",
                                        ">4 file(s) processed. ", ">0 file(s) skipped."}));
    EXPECT_EQ(ReadFile(dir / "1.htm"), refreshed);
    EXPECT_EQ(ReadFile(dir / "2.htm"), page);
}

TEST(LogHeaderLine, UsesMonthDayYearAndTwelveHourTime) {
    std::tm when{};
    when.tm_year = 99;
    when.tm_mon = 2;
    when.tm_mday = 7;
    when.tm_hour = 21;
    when.tm_min = 5;
    EXPECT_EQ(LogHeaderLine("C:/web/", when), "Processing path: C:/web/ - 3/7/99 09:05 PM");
    when.tm_year = 126;
    when.tm_mon = 11;
    when.tm_mday = 31;
    when.tm_hour = 0;
    when.tm_min = 0;
    EXPECT_EQ(LogHeaderLine("/s/", when), "Processing path: /s/ - 12/31/26 12:00 AM");
    when.tm_hour = 12;
    EXPECT_EQ(LogHeaderLine("/s/", when), "Processing path: /s/ - 12/31/26 12:00 PM");
}

} // namespace
