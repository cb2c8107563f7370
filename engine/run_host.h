#pragma once

// A run's contract with its host: what it is asked to do (RunOptions, one value handed in
// at the start), what it tells the host as it goes (RunEvents, as data: a page started or
// reached a stage, a problem, a page finished) and what it came to (RunOutcome). The run
// reads nothing back but whether to stop; each host words the events (wording.h) and shows
// them its own way.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Disk;

// Pages whose new files are flushed while the run reads the next ones: enough for the disk
// to overlap their flushes, few enough to hold memory and descriptors flat.
inline constexpr int kMostPagesInFlight = 8;

struct RunOptions {
    std::string folder;            // the path box: the pages' folder, ending with "/"
    bool backup = false;           // "Backup originals"
    bool errorMessagesOff = false; // "Error msgs off": problems go to the error log
    // Changes nothing on disk: each page's refreshed bytes are only compared with the page,
    // and its verdict is the one a real run would come to.
    bool checkOnly = false;
    // Compares first and refreshes only a page whose refreshed bytes differ from its own:
    // an up-to-date page is left untouched (no backup, no write, its modification time kept)
    // and still counts as processed.
    bool onlyChanged = false;
    // Checking only: a page that would change carries its refreshed bytes to its
    // pageFinished event (PageOutcome::refreshed), to show what would change.
    bool keepRefreshed = false;
    // How many pages may be on their way at once; 1 is one page after the other.
    int pagesInFlight = kMostPagesInFlight;
    // The pages' folder as the caller opened it (an O_PATH descriptor will do), or -1: pages
    // are then reached through it and never again through the folder's name, so a folder
    // swapped for a link meanwhile leads the run nowhere else. Include files are still
    // named from folder.
    int folderFd = -1;
    // The file system; the real one when null.
    Disk* disk = nullptr;
};

enum class PageStage { Started, BackingUp, Saving };

enum class ProblemKind {
    MissingInclude, // the include file is missing or cannot be read
    UnmatchedTags,  // an opening tag without its ">" or without a closing tag
    NestedTags,     // the include file holds a closing tag
    BackupFailed,
    CreateFailed,     // the new page could not be made
    ReadFailed,       // the page could not be read
    PageChanged,      // another program changed the page while it was refreshed
    FolderUnreadable, // a folder could not be listed to its end
    FolderNotFlushed, // the folder's new entries could not be flushed to the disk
};

struct Problem {
    ProblemKind kind = ProblemKind::ReadFailed;
    std::string page;      // the page's name as the caller gave it; empty for a run's problem
    std::string path;      // the include file's path, or the folder's
    int error = 0;         // the system's reason (an errno value), where it gave one
    std::int64_t line = 0; // the page's line where the block starts (from 1), where there is one
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
    // With keepRefreshed, for a page that would change: a descriptor of a nameless file
    // that holds its refreshed bytes, open for the pageFinished event only; else -1.
    int refreshed = -1;
};

struct RunOutcome {
    bool aborted = false;
    std::int64_t processed = 0;           // ProcessedCount
    std::int64_t skipped = 0;             // SkippedCount
    int problems = 0;                     // reported problems, of pages and of the run
    std::vector<std::string> wouldChange; // checking only: pages whose bytes would change
};

class RunEvents {
  public:
    virtual ~RunEvents() = default;

    // Lets pending window events run (an Abort click among them); true when the run is to
    // stop before its next line.
    virtual bool doEvents() = 0;
    // The page's status line text changes.
    virtual void pageStage(const std::string& page, PageStage stage) = 0;
    // Another run holds the folder; the run waits (and lets events through) until it is
    // free. Said once per wait.
    virtual void waitingForFolder() = 0;
    // A problem for the user that did not go to the error log: a message box, a line on
    // stderr. No lock is held while it is shown.
    virtual void showProblem(const Problem& problem) = 0;
    // The page's entry of the processed-files list (ProcessedEntry words it), in list order.
    virtual void pageFinished(const PageOutcome& outcome) = 0;
    // A block of the page names the include file at includePath (found or not).
    virtual void includeNamed(const std::string& page, const std::string& includePath) {
        (void)page;
        (void)includePath;
    }
};
