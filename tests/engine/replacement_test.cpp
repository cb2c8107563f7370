// A page is at every instant its old or its new version: killed at any call, failing at
// any call, or changed by someone else while it is refreshed. No failure reads as success,
// and nothing but the program's own leftovers is ever removed.

#include "batch_run.h"
#include "mod_global.h"
#include "support.h"

#include <atomic>
#include <csignal>
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
// Files of the user's that only look like the program's.
const std::vector<std::string> kLookalikes = {".reririDuruv-config", ".reririDuruv-Notes1",
                                              ".reririDuruv-0000000000000001", "reririDuruv.tmp"};

// A file under the hidden name of the program's own new files, as a killed run leaves it.
std::string MakeLeftover(const std::string& folder) {
    WriteFile(folder + "leftover", "left by a killed run");
    char name[64];
    std::snprintf(name, sizeof name, ".reririDuruv-%016llx",
                  static_cast<unsigned long long>(StatusOf(folder + "leftover").st_ino));
    ::rename((folder + "leftover").c_str(), (folder + name).c_str());
    return name;
}

class ReplacementTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(dir / "nav.inc", "nav\r\n");
        WriteFile(dir / "index.htm", kOld);
        WriteFile(dir / "plain.htm", "no blocks\r\n");
        for (const std::string& name : kLookalikes)
            WriteFile(dir / name, "the user's");
        modGlobal::SetLogFile(logs / "error.log");
    }

    RunOutcome RunPages(RecordingHost& host, Disk& disk, bool backup = false) {
        host.options.backup = backup;
        host.options.disk = &disk;
        return host.Run({"index.htm", "plain.htm"});
    }

    // The folder holds the site, the user's files and, with a backup, index.bak; besides, a
    // leftover that another run holds: nothing else.
    void ExpectOnlyTheSite(bool backup) {
        std::set<std::string> names{"index.htm", "nav.inc", "plain.htm"};
        names.insert(kLookalikes.begin(), kLookalikes.end());
        if (backup)
            names.insert("index.bak");
        if (!held.empty())
            names.insert(held);
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            found.insert(entry.path().filename());
        EXPECT_EQ(found, names);
        for (const std::string& name : kLookalikes)
            EXPECT_EQ(ReadFile(dir / name), "the user's");
    }

    TempDir dir;
    TempDir logs;
    std::string held; // a leftover that a running replacement holds
};

// The calls whose failure a run may pass over: the folder's lock, its flush where it
// cannot be opened, the new files made ahead of need (made again when needed), and the
// look for leftovers.
bool MayFailQuietly(DiskCall call, const std::string& path, const std::string& folder) {
    return call == DiskCall::Lock || call == DiskCall::List ||
           (call == DiskCall::Open && (path == folder || path + "/" == folder)) ||
           path.find("/.reririDuruv-") != std::string::npos;
}

// Each call of a run in turn is the last (the process is killed there) or fails: the page
// is its old or its new version, a failure is reported or leaves no trace, and the next run
// finishes the work. What a killed run leaves beside the page goes with that next run, but
// what a running replacement holds stays.
TEST_F(ReplacementTest, KilledOrFailingAtAnyCallThePageIsOldOrNew) {
    held = MakeLeftover(dir.path());
    const int holding = ::open((dir / held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holding, LOCK_EX), 0);
    std::set<std::string> reported;
    for (const bool kill : {true, false}) {
        if (!kill) { // whether a leftover is in use, the failing runs need not find out
            ::close(holding);
            ::unlink((dir / held).c_str());
            held.clear();
        }
        for (const bool backup : {false, true}) {
            for (int at = 1;; ++at) {
                WriteFile(dir / "index.htm", kOld);
                std::atomic<int> calls = 0;
                std::atomic<DiskCall> failed{};
                std::string failedPath; // written before the failure is seen, read after
                FakeDisk disk;
                disk.before = [&](DiskCall call, const std::string& path) {
                    if (++calls != at)
                        return 0;
                    if (kill)
                        ::kill(::getpid(), SIGKILL);
                    failedPath = path;
                    failed = call;
                    return EIO;
                };
                RecordingHost host(dir.path());
                int status = 0;
                if (!kill) {
                    const RunOutcome outcome = RunPages(host, disk, backup);
                    reported.insert(host.problems.begin(), host.problems.end());
                    EXPECT_EQ(outcome.problems, static_cast<int>(host.problems.size()));
                    status = calls >= at;
                } else if (const pid_t child = ::fork(); child == 0) {
                    RunPages(host, disk, backup);
                    ::_exit(0);
                } else {
                    ::waitpid(child, &status, 0);
                }
                SCOPED_TRACE((kill ? "killed at call " : "failing call ") + std::to_string(at) +
                             " of kind " + std::to_string(static_cast<int>(failed.load())) +
                             " on " + failedPath);
                const std::string page = ReadFile(dir / "index.htm");
                ASSERT_TRUE(page == kOld || page == kNew);
                if (!kill && status != 0 && host.problems.empty()) {
                    EXPECT_EQ(page, kNew);
                    EXPECT_TRUE(MayFailQuietly(failed, failedPath, dir.path()));
                }
                EXPECT_TRUE(kill || page == kNew || host.entries[0].starts_with(">index.htm,"));
                if (!kill) // a failing run leaves nothing beside the page
                    ExpectOnlyTheSite(Exists(dir / "index.bak"));
                EXPECT_TRUE(!backup || (page == kOld && !Exists(dir / "index.bak")) ||
                            ReadFile(dir / "index.bak") == kOld);
                RecordingHost next(dir.path());
                RunPages(next, RealDisk(), backup);
                ASSERT_EQ(ReadFile(dir / "index.htm"), kNew);
                ExpectOnlyTheSite(backup);
                ::unlink((dir / "index.bak").c_str());
                if (status == 0)
                    break;
            }
        }
    }
    EXPECT_TRUE(reported.count("Could not flush folder " + dir.path()))
        << "the renames are flushed";
}

// Leftovers go with the next run that writes in their folder, the folder of a linked page's
// file among them; a run that writes nothing leaves every folder alone.
TEST_F(ReplacementTest, LeftoversGoWithTheNextRunThatWritesThere) {
    TempDir outside;
    WriteFile(outside / "real.htm", kOld);
    ::unlink((dir / "index.htm").c_str());
    ::symlink((outside / "real.htm").c_str(), (dir / "index.htm").c_str());
    const std::string here = MakeLeftover(dir.path());
    const std::string there = MakeLeftover(outside.path());
    RecordingHost host(dir.path());
    host.options.onlyChanged = true;
    WriteFile(outside / "real.htm", kNew);
    host.Run({"index.htm"});
    EXPECT_TRUE(Exists(dir / here) && Exists(outside / there)) << "nothing was written";

    WriteFile(outside / "real.htm", kOld);
    host.options.onlyChanged = false;
    RunPages(host, RealDisk());
    EXPECT_EQ(ReadFile(outside / "real.htm"), kNew) << "the file a page links to is refreshed";
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "index.htm")) << "and the link stays";
    EXPECT_FALSE(Exists(outside / there) || Exists(dir / here));
    ::unlink((dir / "index.htm").c_str());
    WriteFile(dir / "index.htm", kOld);
    ExpectOnlyTheSite(false);
}

// A backup name that is a link, dangling or not, is never written through; a page whose
// backup name is its own is never replaced by its backup. No lock is held while a problem
// waits for the user.
TEST_F(ReplacementTest, BackupsNeverReplaceWhatTheyShouldNot) {
    TempDir outside;
    ::symlink((outside / "secret").c_str(), (dir / "index.bak").c_str());
    WriteFile(dir / "x.bak", kOld);
    struct Host : RecordingHost {
        using RecordingHost::RecordingHost;
        void showProblem(const Problem& problem) override {
            const int fd = ::open(options.folder.c_str(), O_RDONLY | O_DIRECTORY);
            EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
            ::close(fd);
            RecordingHost::showProblem(problem);
        }
    } host(dir.path());
    host.options.backup = true;
    host.Run({"index.htm", "x.bak"});
    EXPECT_FALSE(Exists(outside / "secret"));
    EXPECT_EQ(ReadFile(dir / "index.htm") + ReadFile(dir / "x.bak"), kOld + kOld);
    EXPECT_EQ(host.entries[0] + host.entries[1], ">index.htm,backup err>x.bak,backup err");
    EXPECT_EQ(host.problems, (std::vector<std::string>{"Could not backup file index.htm",
                                                       "Could not backup file x.bak"}));
    host.options.checkOnly = true;
    host.Run({"index.htm", "x.bak"});
    EXPECT_EQ(host.entries[1], ">x.bak,backup err") << "a check comes to the same verdict";
}

// The folder the caller holds open is the folder refreshed, also once its name leads
// somewhere else: a folder swapped for a link leads the run nowhere else.
TEST_F(ReplacementTest, TheFolderHeldOpenIsTheFolderRefreshed) {
    TempDir outside;
    WriteFile(outside / "index.htm", kOld);
    WriteFile(outside / "nav.inc", "nav\r\n"); // include files are named from the folder
    const std::string name = dir.path().substr(0, dir.path().size() - 1);
    const FileDescriptor held(::open(name.c_str(), O_PATH | O_DIRECTORY));
    ::rename(name.c_str(), (name + "-moved").c_str());
    ::symlink(outside.path().c_str(), name.c_str());
    RecordingHost host(dir.path());
    host.options.folderFd = held.get();
    host.Run({"index.htm"});
    EXPECT_EQ(ReadFile(outside / "index.htm"), kOld);
    EXPECT_EQ(ReadFile(name + "-moved/index.htm"), kNew);
    ::unlink(name.c_str());
    ::rename((name + "-moved").c_str(), name.c_str());
}

// A run as root reads a page's includes with the rights of the page's owner: what the owner
// could not read is missing, never copied into the page.
TEST_F(ReplacementTest, AsRootIncludesAreReadWithTheRightsOfThePagesOwner) {
    REQUIRE_ROOT();
    ::chmod(dir.path().c_str(), 0755);
    WriteFile(dir / "secret", "root's\r\n");
    ::chmod((dir / "secret").c_str(), 0600);
    WriteFile(dir / "group.inc", "the group's\r\n");
    ::chown((dir / "group.inc").c_str(), 0, 65534);
    ::chmod((dir / "group.inc").c_str(), 0640);
    const std::vector<std::tuple<uid_t, std::string, std::string>> rows = {
        {0, "secret", "index.htm,1"},
        {65534, "secret", ">index.htm,missing repl. file"},
        {65534, "group.inc", "index.htm,1"},
        {65534, "nav.inc", "index.htm,1"}};
    for (const auto& [owner, include, entry] : rows) {
        const std::string page = "<reririduruv=" + include + ">\r\n</reririduruv>\r\n";
        WriteFile(dir / "index.htm", page);
        ::chown((dir / "index.htm").c_str(), owner, owner);
        RecordingHost host(dir.path());
        host.Run({"index.htm"});
        EXPECT_EQ(host.entries[0], entry) << owner << " " << include;
        EXPECT_EQ(ReadFile(dir / "index.htm") == page, entry[0] == '>');
        EXPECT_EQ(host.reported.empty() ? 0 : host.reported[0].error, entry[0] == '>' ? EACCES : 0);
    }
}

// Another program at work while a page is refreshed: right before the first disk call of
// kind `at` (on `path`, where given), change() runs; the page is then as `page` says (empty:
// as the change left it).
TEST_F(ReplacementTest, WhatOthersDoMeanwhileIsKeptOrRefused) {
    struct Row {
        DiskCall at;
        std::string path;
        std::function<void()> change;
        std::string entry, page;
    };
    int reads = 0;
    const Row rows[] = {
        {DiskCall::Sync, "",
         [&] {
             WriteFile(dir / "new", "saved");
             ::rename((dir / "new").c_str(), (dir / "index.htm").c_str());
         },
         ">index.htm,page changed", ""},
        {DiskCall::Read, "", [&] { ::truncate((dir / "index.htm").c_str(), 7); },
         ">index.htm,page changed", ""},
        // The check has read the include to its end (its content, then nothing) when it changes.
        {DiskCall::Read, dir / "nav.inc",
         [&] {
             if (reads++ == 2)
                 WriteFile(dir / "nav.inc", "</reririduruv>\r\n");
         },
         ">index.htm,nested tags", kOld},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.entry);
        WriteFile(dir / "index.htm", kOld);
        WriteFile(dir / "nav.inc", "nav\r\n");
        std::atomic<bool> done = false;
        std::string changed;
        FakeDisk disk;
        disk.before = [&](DiskCall call, const std::string& path) {
            if (!done && call == row.at && (row.path.empty() || path == row.path)) {
                row.change();
                done = row.path.empty() || ReadFile(dir / "nav.inc") != "nav\r\n";
                changed = ReadFile(dir / "index.htm");
            }
            return 0;
        };
        RecordingHost host(dir.path());
        RunPages(host, disk, true);
        ASSERT_TRUE(done);
        EXPECT_EQ(ReadFile(dir / "index.htm"), row.page.empty() ? changed : row.page);
        EXPECT_EQ(host.entries[0], row.entry);
        ::unlink((dir / "index.bak").c_str());
        ExpectOnlyTheSite(false);
    }
}

} // namespace
