#pragma once

// The tag replacement pass: refreshes the include blocks of one page.

#include "pass_host.h"

#include <string>

inline constexpr char kTempFileName[] = "reririDuruv.tmp";

struct PassOptions {
    // Changes nothing on disk: the refreshed page is only compared with the page.
    bool checkOnly = false;
    // Compares first and refreshes only a page whose refreshed bytes differ from its own:
    // an up-to-date page is left untouched (no temporary file, backup or replacement, its
    // modification time kept) and still counts as processed. The window never sets it.
    bool onlyChanged = false;
    // Checking only: receives the bytes of the refreshed page, to show what would change.
    std::string* refreshedBytes = nullptr;
};

enum class PageResult {
    Aborted,  // stopped before a line; no entry, no count
    Replaced, // blocks refreshed and the page put in place (or, checking, compared)
    NoBlocks, // nothing to refresh: counted as skipped, not a problem
    Failed,   // a problem was reported; counted as skipped
};

struct PageOutcome {
    PageResult result = PageResult::Aborted;
    int blocks = 0;
    // Checking only: the refreshed page would differ from the page on disk.
    bool wouldChange = false;
    // Only changed pages: the page already held its refreshed bytes and was not written.
    bool upToDate = false;
    // Problems reported, including a temporary file that could not be deleted.
    int problems = 0;
};

// Refreshes the page named pageName in the host's folder, reporting into the host.
PageOutcome ProcessFile(PassHost& host, const std::string& pageName,
                        const PassOptions& options = {});

// Deletes the temporary file for good, if it exists; reports a failure itself. Returns
// false when it reported one.
bool DeleteTempFile(PassHost& host, const std::string& tempPath);

namespace posix {
class FolderLock;
}
// Takes the folder's lock, letting events through while another process's run holds it;
// false when an abort came first.
bool WaitForFolder(PassHost& host, const std::string& folder, posix::FolderLock& lock);

// Reports a problem as the "Error msgs off" check mark says: a line in the error log, or a
// message box. A log line that cannot be written becomes a message box.
void ReportProblem(PassHost& host, const std::string& message, const std::string& logLine);

// The backup's name: the page path up to and including the last "." of the page's own
// name, then "bak"; without a "." in that name, the page path + ".bak".
std::string BackupPathOf(const std::string& pagePath);

// The include path of a tag's name: a backslash reads as "/", a name starting with "/" is
// absolute, any other name lies in folder.
std::string ResolveIncludePath(const std::string& folder, std::string includeName);
