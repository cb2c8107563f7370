// The batch run: the error log, two runs in one folder, and pages in flight that come to
// what one page after the other comes to.

#include "batch_run.h"
#include "file_list.h"
#include "mod_global.h"
#include "support.h"
#include "tag_pass.h"
#include "wording.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

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
    const std::vector<std::string> pages{"a.htm", "b.htm", "c.htm"};
    TempDir dir, logs;
};

// Each run's problems go after a header of its own; a log that cannot be written loses no
// report (it is shown instead) and keeps whole lines only, also when the disk fills in the
// middle of one.
TEST_F(BatchRunTest, WithErrorMessagesOffProblemsGoToTheLogAfterAHeader) {
    RecordingHost host(dir.path());
    host.options.errorMessagesOff = true;
    host.Run(pages);
    host.Run({"b.htm"});
    EXPECT_TRUE(host.problems.empty());
    const std::string header = " \r\nProcessing path: " + dir.path() +
                               " - ([1-9]|1[0-2])/([1-9]|[12][0-9]|3[01])/[0-9]{2} "
                               "(0[1-9]|1[0-2]):[0-5][0-9] (AM|PM)\r\n";
    const std::string line =
        " -Could not locate replacement file " + dir.path() + "gone.inc in b.htm\r\n";
    const std::string log = ReadFile(logs / "sub/error.log");
    EXPECT_TRUE(std::regex_match(log, std::regex("(" + header + line + "){2}"))) << log;

    // A log that fills the disk's last bytes in the middle of a line.
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(log.size() + 50), RLIM_INFINITY};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        RecordingHost full(dir.path());
        full.options.errorMessagesOff = true;
        full.Run({"b.htm"});
        ::_exit(full.problems.size() == 1 ? 0 : 1);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0) << "the report that did not fit is shown";
    EXPECT_TRUE(ReadFile(logs / "sub/error.log").starts_with(log));
    EXPECT_TRUE(ReadFile(logs / "sub/error.log").ends_with("\r\n")) << "no torn line";

    modGlobal::SetLogFile(dir / "c.htm/error.log");
    host.Run({"b.htm"});
    EXPECT_EQ(host.problems.size(), 1u);
}

// Two runs in one folder take turns: the second waits, says so once, and neither fails the
// other's pages.
TEST_F(BatchRunTest, TwoRunsInOneFolderTakeTurns) {
    RecordingHost first(dir.path());
    RecordingHost second(dir.path());
    std::thread other;
    FakeDisk disk;
    disk.before = [&](DiskCall call, const std::string&) {
        // The first run holds the folder while its first page is on its way.
        if (call == DiskCall::Sync && !other.joinable()) {
            other = std::thread([&] { second.Run(pages); });
            for (int tries = 0; tries < 500 && second.waits == 0; ++tries)
                ::usleep(10 * 1000);
        }
        return 0;
    };
    first.options.disk = &disk;
    first.Run(pages);
    other.join();
    EXPECT_EQ(second.waits, 1);
    EXPECT_EQ(first.problems.size() + second.problems.size(), 2u) << "only b.htm's, once each";
}

TEST(Names, TheLogHeadersStampAndABackupsName) {
    for (const auto& [year, month, day, hour, stamp] :
         std::vector<std::tuple<int, int, int, int, std::string>>{
             {99, 2, 7, 21, "3/7/99 09:05 PM"},
             {99, 2, 7, 0, "3/7/99 12:05 AM"},
             {126, 11, 25, 12, "12/25/26 12:05 PM"},
             {100, 0, 1, 9, "1/1/00 09:05 AM"}}) {
        const std::tm when{0, 5, hour, day, month, year, 0, 0, 0, 0, nullptr};
        EXPECT_EQ(LogHeaderLine("C:/web/", when), "Processing path: C:/web/ - " + stamp);
    }
    EXPECT_EQ(BackupPathOf("/s/a.b.html") + BackupPathOf("/s.d/README"),
              "/s/a.b.bak/s.d/README.bak");
}

// A site of pages that are one file (symbolic and hard links) or share a backup name,
// made the same way from seed in two folders.
void MakeTangledSite(const std::string& folder, unsigned seed) {
    std::mt19937 random(seed);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    WriteFile(folder + "a.inc", "A" + std::to_string(seed) + "\r\n");
    WriteFile(folder + "b.inc", "B\n");
    for (int i = 0; i < 12; ++i) {
        const std::string name = folder + "p" + std::to_string(i);
        const std::string earlier = "p" + std::to_string(pick(i + 1)) + ".htm";
        const std::string page = "<reririduruv=" + std::string(pick(2) ? "a" : "b") +
                                 ".inc>\r\nold " + name + "\r\n</reririduruv>\r\n";
        const int kind = pick(5); // a link, a hard link, a page with the backup name of another
        if (kind == 0)
            ::symlink(earlier.c_str(), (name + ".htm").c_str());
        else if (kind != 1 || ::link((folder + earlier).c_str(), (name + ".htm").c_str()) != 0)
            WriteFile(name + ".htm", page);
        if (kind >= 2)
            WriteFile(name + (kind == 2 ? ".bak" : ".html"), page + "other\r\n");
    }
}

// The folder's files and what the run said, the folder's name left out.
std::string Outcome(const std::string& folder, const RecordingHost& host) {
    std::string text = Listing(folder) + "\n";
    for (const auto& list : {host.entries, host.problems})
        for (const std::string& line : list)
            text += line + "\n";
    return std::regex_replace(text, std::regex(folder), "DIR/");
}

TEST(PagesInFlight, ComeToWhatOnePageAfterTheOtherComesTo) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::string outcomes[2];
        for (const int inFlight : {1, kMostPagesInFlight}) {
            TempDir dir;
            MakeTangledSite(dir.path(), seed);
            std::vector<std::string> pages;
            ASSERT_EQ(ListFiles(dir.path(), kAllFilesPattern, pages), 0);
            std::erase_if(pages, [](const std::string& name) { return name.ends_with(".inc"); });
            RecordingHost host(dir.path());
            host.options.backup = true;
            host.options.pagesInFlight = inFlight;
            host.Run(pages);
            outcomes[inFlight == 1 ? 0 : 1] = Outcome(dir.path(), host);
        }
        ASSERT_EQ(outcomes[1], outcomes[0]) << "seed " << seed;
    }
}

} // namespace
