#pragma once

// What the tests share: scratch folders and files, a program run with its streams, a host
// that records what the engine tells it, and a disk that can fail or disturb any call.

#include "batch_run.h"
#include "disk.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, ending with "/".
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + name; }

  private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The file's status, its links followed; all zero when there is none.
struct stat StatusOf(const std::string& path);
// When the file was last written, in nanoseconds.
long Modified(const std::string& path);
// Every file below folder, sorted, as "name=content", a link as "name->target", separated
// by spaces: "a=A f/i=I l->a".
std::string Listing(const std::string& folder);

// A program run to its end: exit status (128 + signal when killed), stdout and stderr.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};

// A program started in the background, stdin from /dev/null, stdout and stderr to files
// of its own.
class Program {
  public:
    explicit Program(const std::vector<std::string>& command);
    ~Program();
    // What it has written to stdout and stderr so far.
    std::string out() const { return ReadFile(streams_ / "out"); }
    std::string err() const { return ReadFile(streams_ / "err"); }
    // Waits up to 20 s until stdout holds count lines that start with prefix.
    bool WaitForLines(const std::string& prefix, int count) const;
    void Signal(int signal) { ::kill(pid_, signal); }
    // Waits for its end, a minute at most.
    ProgramRun Wait();

  private:
    TempDir streams_;
    int pid_ = -1;
};
inline ProgramRun RunProgram(const std::vector<std::string>& command) {
    return Program(command).Wait();
}

// A fault that needs root (mounts, other users) is skipped where the test runs without it,
// loudly; with CI=true set it fails instead, so CI proves every fault.
#define REQUIRE_ROOT()                                                                             \
    if (::geteuid() != 0) {                                                                        \
        ASSERT_FALSE(::testing_support::OnCi()) << "this fault needs root, and CI must prove it";  \
        GTEST_SKIP() << "this fault needs root";                                                   \
    }
inline bool OnCi() {
    return std::getenv("CI") != nullptr && std::string(std::getenv("CI")) == "true";
}

// Runs pages as a host does and records every event in order as a line: "stage:TEXT",
// "problem:TEXT", "entry:TEXT"; problems and entries are worded as the window words
// them, and the entries end with the run's closing lines.
class RecordingHost : public RunEvents {
  public:
    explicit RecordingHost(const std::string& folder) { options.folder = folder; }
    RunOptions options;
    std::vector<std::string> events;
    std::vector<std::string> entries;   // the processed-files list as the window shows it
    std::vector<std::string> problems;  // the texts shown in message boxes
    std::vector<Problem> reported;      // the problems themselves
    std::vector<std::string> refreshed; // checking with keepRefreshed: each page's new bytes
    bool abort = false;                 // an Abort click
    std::function<void(RecordingHost&)> onDoEvents;

    // The batch run over pages with options, the closing lines added to entries.
    RunOutcome Run(const std::vector<std::string>& pages);

    bool doEvents() override;
    void pageStage(const std::string& page, PageStage stage) override;
    std::atomic<int> waits = 0; // the times the run said it waits for another
    void waitingForFolder() override { ++waits; }
    void showProblem(const Problem& problem) override;
    void pageFinished(const PageOutcome& outcome) override;
};

// A disk whose every call is first shown to before(call, path), a call on a descriptor with
// the path it was opened with: a non-zero errno value fails the call; anything else the hook
// does (count, change a file, end the process) happens right before the call. The hook is
// called from the run's threads too.
class FakeDisk : public Disk {
  public:
    std::function<int(DiskCall call, const std::string& path)> before;

  protected:
    int Before(DiskCall call, const std::string& path) override {
        return before ? before(call, path) : 0;
    }
    int BeforeOn(DiskCall call, int fd) override;
    void Opened(int fd, const std::string& path) override;

  private:
    std::mutex mutex_;
    std::map<int, std::string> paths_;
};

} // namespace testing_support
