#pragma once

// The part of the main window that the tag replacement pass and the batch run read and
// write. The window implements it with its controls; the command line with its streams.

#include <cstdint>
#include <string>

// The run state that the window owns: set by its Abort button, counted by the pass.
struct RunState {
    bool AbortRequested = false;
    std::int64_t ProcessedCount = 0;
    std::int64_t SkippedCount = 0;
};

class PassHost {
  public:
    virtual ~PassHost() = default;

    // The path box: the current folder, ending with "/".
    virtual std::string pathDisplay() const = 0;
    // The status line; shown at once, also in the middle of a run.
    virtual void setStatus(const std::string& text) = 0;
    // The processed-files list.
    virtual void addProcessed(const std::string& entry) = 0;
    virtual void clearProcessed() = 0;
    // The check marks of "Backup originals" and "Error msgs off", read when needed.
    virtual bool backupOriginals() const = 0;
    virtual bool errorMessagesOff() const = 0;
    // Lets pending window events run; an Abort click sets runState().AbortRequested here.
    virtual void doEvents() = 0;
    // A problem report as a message box with the error icon, titled "reririDuruv".
    virtual void showProblem(const std::string& message) = 0;
    virtual RunState& runState() = 0;
};
