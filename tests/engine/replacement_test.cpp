// A page is at every instant its old or its new version: killed at any call, failing at
// any call, or changed by someone else while it is refreshed. No failure reads as success.

#include "batch_run.h"
#include "mod_global.h"
#include "support.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testing_support;

namespace {

const std::string kOld = "<p>\r\n<reririduruv=nav.inc>\r\nold\r\n</reririduruv>\r\n";
const std::string kNew = "<p>\r\n<reririduruv=nav.inc>nav\r\n</reririduruv>\r\n";

class ReplacementTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir / "nav.inc", "nav\r\n");
        WriteFile(dir / "index.htm", kOld);
        WriteFile(dir / "plain.htm", "no blocks\r\n");
        modGlobal::SetLogFile(logs / "error.log");
    }

    BatchSummary RunPages(RecordingHost& host, Disk& disk, bool backup = false) {
        host.backup = backup;
        PassOptions options;
        options.disk = &disk;
        return RunBatch(host, {{"index.htm", true}, {"plain.htm", true}}, options);
    }

    // The folder holds the pages, the include and, with a backup, index.bak: nothing else.
    void ExpectOnlyTheSite(bool backup) {
        std::vector<std::string> names{"index.htm", "nav.inc", "plain.htm"};
        if (backup)
            names.insert(names.begin(), "index.bak");
        if (Exists(dir / ".reririDuruv-inUse123"))
            names.insert(names.begin(), ".reririDuruv-inUse123");
        EXPECT_EQ(FolderNames(dir.path()), names);
    }

    TempDir dir;
    TempDir logs;
};

// The calls whose failure a run may pass over: the folder's lock and the look for
// leftovers, which only some file systems can give, and the temporary file's new name,
// without which the new page is copied from it instead.
bool MayFailQuietly(DiskCall call, const std::string& path, const std::string& folder) {
    return call == DiskCall::Lock || call == DiskCall::List || call == DiskCall::Link ||
           (call == DiskCall::Open && path == folder);
}

// Each call of a run in turn is the last (the process is killed there) or fails: the page
// is its old or its new version, a failure is reported or leaves no trace, and the next run
// finishes the work. What a killed run leaves beside the page goes with that next run, but
// what a running replacement holds stays.
TEST_F(ReplacementTest, KilledOrFailingAtAnyCallThePageIsOldOrNew) {
    WriteFile(dir / ".reririDuruv-inUse123", "another run's");
    const int held = ::open((dir / ".reririDuruv-inUse123").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    std::set<std::string> reported;
    for (const bool kill : {true, false}) {
        if (!kill) { // whether a leftover is in use, the failing runs need not find out
            ::close(held);
            ::unlink((dir / ".reririDuruv-inUse123").c_str());
        }
        for (const bool backup : {false, true}) {
            int faults = 0;
            for (int at = 1;; ++at) {
                WriteFile(dir / "index.htm", kOld);
                std::atomic<int> calls = 0;
                DiskCall failed{};
                std::string failedPath;
                FakeDisk disk;
                disk.before = [&](DiskCall call, const std::string& path) {
                    if (++calls != at)
                        return 0;
                    if (kill)
                        ::_exit(9);
                    failed = call;
                    failedPath = path;
                    return EIO;
                };
                RecordingHost host(dir.path());
                int status = 0;
                if (!kill) {
                    const BatchSummary summary = RunPages(host, disk, backup);
                    reported.insert(host.problems.begin(), host.problems.end());
                    EXPECT_EQ(summary.problems, static_cast<int>(host.problems.size()));
                    status = calls >= at;
                } else if (const pid_t child = ::fork(); child == 0) {
                    RunPages(host, disk, backup);
                    ::_exit(0);
                } else {
                    ::waitpid(child, &status, 0);
                }
                SCOPED_TRACE((kill ? "killed at call " : "failing call ") + std::to_string(at) +
                             " of kind " + std::to_string(static_cast<int>(failed)) + " on " +
                             failedPath);
                const std::string page = ReadFile(dir / "index.htm");
                ASSERT_TRUE(page == kOld || page == kNew);
                if (!kill && status != 0 && host.problems.empty()) {
                    EXPECT_EQ(page, kNew);
                    EXPECT_TRUE(MayFailQuietly(failed, failedPath, dir.path()));
                }
                if (!kill && page == kOld) {
                    EXPECT_EQ(host.entries[0].substr(0, 11), ">index.htm,");
                }
                if (!kill) { // beside the page, at most the temporary file is left
                    ::unlink((dir / modGlobal::kTempFileName).c_str());
                    ExpectOnlyTheSite(Exists(dir / "index.bak"));
                }
                if (backup && (page == kNew || Exists(dir / "index.bak"))) {
                    EXPECT_EQ(ReadFile(dir / "index.bak"), kOld);
                }
                RecordingHost next(dir.path());
                RunPages(next, RealDisk(), backup);
                ASSERT_EQ(ReadFile(dir / "index.htm"), kNew);
                ExpectOnlyTheSite(backup);
                EXPECT_EQ(Exists(dir / ".reririDuruv-inUse123"), kill) << "a leftover in use stays";
                ::unlink((dir / "index.bak").c_str());
                if (status == 0)
                    break;
                ++faults;
            }
            EXPECT_GT(faults, backup ? 30 : 20);
        }
    }
    EXPECT_TRUE(reported.count("Could not flush folder " + dir.path()))
        << "the renames are flushed";
}

TEST_F(ReplacementTest, LinksArePagesButNeverBackups) {
    TempDir outside;
    WriteFile(outside / "real.htm", kOld);
    ::unlink((dir / "index.htm").c_str());
    ::symlink((outside / "real.htm").c_str(), (dir / "index.htm").c_str());
    RecordingHost host(dir.path());
    RunPages(host, RealDisk());
    EXPECT_EQ(ReadFile(outside / "real.htm"), kNew) << "the file a page links to is refreshed";
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "index.htm")) << "and the link stays";

    // A backup name that is a link, dangling or not, is never written through.
    WriteFile(outside / "real.htm", kOld);
    ::symlink((outside / "secret").c_str(), (dir / "index.bak").c_str());
    RecordingHost again(dir.path());
    RunPages(again, RealDisk(), true);
    EXPECT_FALSE(Exists(outside / "secret"));
    EXPECT_EQ(ReadFile(outside / "real.htm"), kOld);
    EXPECT_EQ(again.entries[0], ">index.htm,backup err");
    EXPECT_EQ(again.problems, std::vector<std::string>{"Could not backup file index.htm"});
}

// Another program at work while a page is refreshed: right before the first disk call for
// which when() holds, change() runs.
struct Disturbance {
    const char* what;
    std::function<bool(DiskCall call, const std::string& path)> when;
    std::function<void(const std::string& dir)> change;
    std::string entry;
    std::string page = {}; // the page afterwards; empty: as the change left it
};

TEST_F(ReplacementTest, WhatOthersDoMeanwhileIsKeptOrRefused) {
    const auto saveByRename = [](const std::string& dir) {
        WriteFile(dir + "new", "saved by an editor\r\n");
        ::rename((dir + "new").c_str(), (dir + "index.htm").c_str());
    };
    const auto at = [](DiskCall kind) {
        return [kind](DiskCall call, const std::string&) { return call == kind; };
    };
    int includeReads = -1;
    // clang-format off
    const Disturbance rows[] = {
        {"saved by rename while the new page is flushed", at(DiskCall::Sync), saveByRename, ">index.htm,page changed"},
        {"cut short while it is read", at(DiskCall::Read), [](const std::string& dir) { ::truncate((dir + "index.htm").c_str(), 7); },
         ">index.htm,page changed"},
        {"another file renamed onto the temporary file's name once the page is read",
         [&](DiskCall call, const std::string& path) { return call == DiskCall::Status && path == dir / "index.htm"; },
         [](const std::string& dir) {
             WriteFile(dir + "intruder", "not the page\r\n");
             ::rename((dir + "intruder").c_str(), (dir + modGlobal::kTempFileName).c_str());
         }, "index.htm,1", kNew},
        {"an include file given a closing tag after its check",
         [&](DiskCall call, const std::string& path) {
             includeReads = call == DiskCall::Open && path == dir / "nav.inc" ? 0 : includeReads;
             // The check has read the include to its end: its content, then nothing.
             return call == DiskCall::Read && includeReads >= 0 && ++includeReads == 3;
         },
         [](const std::string& dir) { WriteFile(dir + "nav.inc", "</reririduruv>\r\n"); },
         ">index.htm,nested tags", kOld},
    };
    // clang-format on
    for (const Disturbance& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(dir / "index.htm", kOld);
        WriteFile(dir / "nav.inc", "nav\r\n");
        std::atomic<bool> done = false;
        std::string changed;
        FakeDisk disk;
        disk.before = [&](DiskCall call, const std::string& path) {
            if (!done && row.when(call, path)) {
                done = true;
                row.change(dir.path());
                changed = ReadFile(dir / "index.htm");
            }
            return 0;
        };
        RecordingHost host(dir.path());
        RunPages(host, disk, true);
        ASSERT_TRUE(done);
        EXPECT_EQ(ReadFile(dir / "index.htm"), row.page.empty() ? changed : row.page);
        EXPECT_EQ(host.entries[0], row.entry);
        if (row.entry == ">index.htm,page changed") {
            EXPECT_EQ(host.problems[0], "Page changed during processing index.htm");
        }
        if (row.entry == "index.htm,1") {
            EXPECT_EQ(ReadFile(dir / "index.bak"), kOld);
        }
        ::unlink((dir / "index.bak").c_str());
        ExpectOnlyTheSite(false);
    }
}

TEST_F(ReplacementTest, WhatStandsUnderTheTemporaryNameIsOnlyEverUnlinked) {
    ::mkdir((dir / modGlobal::kTempFileName).c_str(), 0755);
    WriteFile(dir / modGlobal::kTempFileName + "/keep", "kept");
    // Another run may go on while the user reads a problem: no lock is held then.
    struct Host : RecordingHost {
        using RecordingHost::RecordingHost;
        void showProblem(const Problem& problem) override {
            const int fd = ::open(pathDisplay().c_str(), O_RDONLY | O_DIRECTORY);
            EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
            ::close(fd);
            RecordingHost::showProblem(problem);
        }
    } host(dir.path());
    RunPages(host, RealDisk());
    EXPECT_EQ(ReadFile(dir / modGlobal::kTempFileName + "/keep"), "kept");
    EXPECT_EQ(host.entries[0], ">index.htm,create error");
    EXPECT_EQ(host.problems,
              (std::vector<std::string>{"Could not create replaced file index.htm",
                                        "Could not create replaced file plain.htm"}));

    PassOptions check;
    check.checkOnly = true;
    RecordingHost checking(dir.path());
    const BatchSummary summary = RunBatch(checking, {{"index.htm", true}}, check);
    EXPECT_EQ(checking.entries[0], ">index.htm,create error")
        << "a check comes to the same verdict";
    EXPECT_TRUE(summary.wouldChange.empty());

    // A page that is itself the temporary file is never emptied.
    std::filesystem::remove_all(dir / modGlobal::kTempFileName);
    WriteFile(dir / modGlobal::kTempFileName, kOld);
    RecordingHost named(dir.path());
    RunBatch(named, {{modGlobal::kTempFileName, true}});
    EXPECT_EQ(named.entries[0], ">reririDuruv.tmp,create error");
    EXPECT_EQ(ReadFile(dir / modGlobal::kTempFileName), kOld);
}

} // namespace
