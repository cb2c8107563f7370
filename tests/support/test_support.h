#pragma once

// Shared pieces of the engine and command-line tests: a scratch folder, whole-file reads
// and writes, and a host that records what the pass and the run show.

#include "batch_run.h"

#include <functional>
#include <string>
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
// The names in a folder, sorted, hidden ones included.
std::vector<std::string> FolderNames(const std::string& folder);

// Records everything; answers the options as set; calls onDoEvents at every event pump.
class RecordingHost : public BatchHost {
  public:
    std::string folder;
    bool backup = false;
    bool errMsgOff = false;
    std::vector<std::string> processed;
    std::vector<std::string> statusHistory;
    std::string status;
    std::vector<std::string> problems;
    std::vector<std::string> calls; // runStarted, UpdateRecentFolders, runEnded, closing:...
    int eventPumps = 0;
    std::function<void(RecordingHost&)> onDoEvents;
    RunState state;

    std::string pathDisplay() const override { return folder; }
    void setStatus(const std::string& text) override {
        status = text;
        statusHistory.push_back(text);
    }
    void addProcessed(const std::string& entry) override { processed.push_back(entry); }
    void clearProcessed() override { processed.clear(); }
    bool backupOriginals() const override { return backup; }
    bool errorMessagesOff() const override { return errMsgOff; }
    void doEvents() override {
        ++eventPumps;
        if (onDoEvents)
            onDoEvents(*this);
    }
    void showProblem(const std::string& message) override { problems.push_back(message); }
    RunState& runState() override { return state; }
    void runStarted() override { calls.push_back("runStarted"); }
    void UpdateRecentFolders() override { calls.push_back("UpdateRecentFolders"); }
    void runEnded() override { calls.push_back("runEnded"); }
    void showClosingMessage(bool aborted) override {
        calls.push_back(aborted ? "closing:aborted" : "closing:done");
    }
};

} // namespace testing_support
