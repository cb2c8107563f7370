#pragma once

// What the pass and the batch run tell the window or the command line, as data: a page
// started or reached a stage, a problem came up, a page finished with its outcome, the run
// ended. Each host words it (wording.h) and shows it its own way.

#include <cstdint>
#include <optional>
#include <string>

// The run state that the window owns: set by its Abort button, counted by the pass.
struct RunState {
    bool AbortRequested = false;
    std::int64_t ProcessedCount = 0;
    std::int64_t SkippedCount = 0;
};

enum class PageStage { Started, BackingUp, Saving };

enum class ProblemKind {
    MissingInclude, // the include file is missing or cannot be read
    UnmatchedTags,  // an opening tag without its ">" or without a closing tag
    NestedTags,     // the include file holds a closing tag
    BackupFailed,
    CreateFailed,     // the temporary file or the new page could not be made
    ReadFailed,       // the page could not be read
    PageChanged,      // another program changed the page while it was refreshed
    TempNotDeleted,   // the temporary file could not be removed
    FolderUnreadable, // a folder could not be listed to its end
    FolderNotFlushed, // the folder's new entries could not be flushed to the disk
};

struct Problem {
    ProblemKind kind = ProblemKind::ReadFailed;
    std::string page; // the page's name as the caller gave it; empty for a run's problem
    std::string path; // the include file's path, or the folder's
};

enum class PageResult {
    Aborted,  // stopped before a line; no entry, no count
    Replaced, // blocks refreshed and the page put in place (or, checking, compared)
    NoBlocks, // nothing to refresh: counted as skipped, not a problem
    Failed,   // a problem stopped the pass; counted as skipped
};

struct PageOutcome {
    std::string page; // the page's name as the caller gave it
    PageResult result = PageResult::Aborted;
    int blocks = 0;
    std::optional<Problem> problem; // what stopped the pass, for Failed
    // Checking only: the refreshed page would differ from the page on disk.
    bool wouldChange = false;
    // Only changed pages: the page already held its refreshed bytes and was not written.
    bool upToDate = false;
    // The temporary file could not be removed after the page (reported on its own).
    bool tempNotDeleted = false;
};

class PassHost {
  public:
    virtual ~PassHost() = default;

    // The path box: the current folder, ending with "/".
    virtual std::string pathDisplay() const = 0;
    // The check marks of "Backup originals" and "Error msgs off", read when needed.
    virtual bool backupOriginals() const = 0;
    virtual bool errorMessagesOff() const = 0;
    virtual RunState& runState() = 0;
    // Lets pending window events run; an Abort click sets runState().AbortRequested here.
    virtual void doEvents() = 0;

    // The page's status line text changes.
    virtual void pageStage(const std::string& page, PageStage stage) = 0;
    // Another run holds the folder; the pass waits (and lets events through) until it is
    // free. Said once per wait.
    virtual void waitingForFolder() = 0;
    // A problem for the user: a message box, or a line on stderr (ReportProblem decides
    // between this and the error log).
    virtual void showProblem(const Problem& problem) = 0;
    // The page's entry of the processed-files list (ProcessedEntry words it).
    virtual void pageFinished(const std::string& page, const PageOutcome& outcome) = 0;
    // A block of the page names the include file at includePath (found or not).
    virtual void includeNamed(const std::string& page, const std::string& includePath) {
        (void)page;
        (void)includePath;
    }
};

// The window's side of a run, beyond what the pass itself needs.
class BatchHost : public PassHost {
  public:
    virtual void clearProcessed() = 0;
    // The Abort button becomes the default button, is enabled and takes the focus.
    virtual void runStarted() = 0;
    // After each selected entry: the status line is emptied.
    virtual void clearStatus() = 0;
    // Records the path box's folder at the head of the recent-folders list.
    virtual void UpdateRecentFolders() = 0;
    // The Abort button is disabled; the Process button becomes default and takes the focus.
    virtual void runEnded() = 0;
    // The run's closing: kAbortedLine when aborted, the closing message, then the two
    // summary lines with the run state's counts.
    virtual void runClosed(bool aborted) = 0;
};
