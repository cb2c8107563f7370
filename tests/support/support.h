#pragma once

// What the tests share: scratch folders and files, a program run with its streams, a host
// that records what the engine tells it, and a disk that can fail or disturb any call.

#include "batch_run.h"
#include "disk.h"

#include <functional>
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
// The names in a folder, sorted, hidden ones included.
std::vector<std::string> FolderNames(const std::string& folder);

// A program run to its end: exit status (128 + signal when killed), stdout and stderr.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
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
    void Signal(int signal);
    ProgramRun Wait();

  private:
    TempDir streams_;
    int pid_ = -1;
};
ProgramRun RunProgram(const std::vector<std::string>& command);

// A fault that needs root (mounts, other users) is skipped where the test runs without it,
// loudly; with CI=true set it fails instead, so CI proves every fault.
#define REQUIRE_ROOT()                                                                             \
    if (::geteuid() != 0) {                                                                        \
        ASSERT_FALSE(::testing_support::OnCi()) << "this fault needs root, and CI must prove it";  \
        GTEST_SKIP() << "this fault needs root";                                                   \
    }
bool OnCi();

// Records every event in order as a line: "stage:TEXT", "wait", "problem:TEXT",
// "entry:TEXT", "status:" (cleared), "start", "recent", "end", "closed:aborted|done";
// problems and entries are worded as the window words them.
class RecordingHost : public BatchHost {
  public:
    explicit RecordingHost(std::string folder) : folder_(std::move(folder)) {}
    std::vector<std::string> events;
    std::vector<std::string> entries;  // the processed-files list as the window shows it
    std::vector<std::string> problems; // the texts shown in message boxes
    bool backup = false;
    bool errMsgOff = false;
    std::function<void(RecordingHost&)> onDoEvents;
    RunState state;

    std::string pathDisplay() const override { return folder_; }
    bool backupOriginals() const override { return backup; }
    bool errorMessagesOff() const override { return errMsgOff; }
    RunState& runState() override { return state; }
    void doEvents() override;
    void pageStage(const std::string& page, PageStage stage) override;
    void waitingForFolder() override { events.push_back("wait"); }
    void showProblem(const Problem& problem) override;
    void pageFinished(const std::string& page, const PageOutcome& outcome) override;
    void clearProcessed() override { entries.clear(); }
    void runStarted() override { events.push_back("start"); }
    void clearStatus() override { events.push_back("status:"); }
    void UpdateRecentFolders() override { events.push_back("recent"); }
    void runEnded() override { events.push_back("end"); }
    void runClosed(bool aborted) override;

  private:
    std::string folder_;
};

// A disk whose every call is first shown to before(call, path): a non-zero errno value
// fails the call; anything else the hook does (count, change a file, end the process)
// happens right before the call.
class FakeDisk : public Disk {
  public:
    std::function<int(DiskCall call, const std::string& path)> before;

  protected:
    int Before(DiskCall call, const std::string& path) override {
        return before ? before(call, path) : 0;
    }
};

} // namespace testing_support
