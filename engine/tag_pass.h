#pragma once

// The tag replacement pass: refreshes the include blocks of one page.

#include "disk.h"
#include "run_host.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the pages of one folder's run share, kept from one page to the next instead of
// made anew for each: the folder, open for its lock, and the temporary file; and new files
// for the folder's pages, made ahead of need on other threads.
struct RunFiles {
    FileDescriptor folder;
    FileDescriptor temp;
    struct stat tempStatus {};
    // A new, nameless file in the folder, or an invalid one when none is at hand.
    std::function<FileDescriptor()> madeFile;
};

struct PassOptions {
    // Changes nothing on disk: the refreshed page is only compared with the page, and the
    // verdict is the one a real run would come to.
    bool checkOnly = false;
    // Compares first and refreshes only a page whose refreshed bytes differ from its own:
    // an up-to-date page is left untouched (no temporary file, backup or replacement, its
    // modification time kept) and still counts as processed. The window never sets it.
    bool onlyChanged = false;
    // Checking only: receives the bytes of the refreshed page, to show what would change.
    std::string* refreshedBytes = nullptr;
    // The file system; the real one when null.
    Disk* disk = nullptr;
    // Shared by the pages of a run; each page opens its own when null.
    RunFiles* runFiles = nullptr;
};

// Refreshes the page named pageName in the host's folder: tells the host its stages,
// reports its problem once the folder is free again, and gives the host the page's entry.
PageOutcome ProcessFile(PassHost& host, const std::string& pageName,
                        const PassOptions& options = {});

// ProcessFile in steps, so that a page's new files can be flushed and put in place on
// another thread while the next page is read: Run reads the page and writes its new
// version; FlushAndPutInPlace, on any thread, flushes it and puts it in place while the
// page is still the page that was read; Complete reports what came of it.
class PagePass {
  public:
    PagePass(PassHost& host, const std::string& pageName, const PassOptions& options);
    ~PagePass();

    // True when the page's new files wait for FlushAndPutInPlace; false when the page is
    // done and Complete only reports it.
    bool Run();
    void FlushAndPutInPlace();
    // Counts the page, reports its problem and gives the host its entry.
    PageOutcome Complete();

  private:
    std::unique_ptr<class Pass> pass_;
    PassHost& host_;
    std::string pageName_;
};

// Removes the temporary file if ours (a run's own) still stands under its name; reports a
// failure. Returns false when it reported one.
bool DeleteTempFile(PassHost& host, const std::string& tempPath, Disk& disk,
                    const struct stat& ours);

// A folder's lock, which one run at a time holds while it works on a page: two runs in a
// folder share its temporary file, so they take turns page by page. Released when it goes,
// or when the process ends.
class FolderLock {
  public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

    // Takes the lock, telling the host once and letting events through while another run
    // holds it; false when an abort came first. A folder that cannot be locked (a file
    // system without locks) counts as locked. The folder is opened for it, or taken from
    // runFiles, where it stays open.
    bool Take(PassHost& host, const std::string& folder, Disk& disk, RunFiles* runFiles = nullptr);
    // Takes the lock only if it is free at once.
    bool TryTake(const std::string& folder, Disk& disk);

  private:
    int Open(const std::string& folder, Disk& disk, RunFiles* runFiles);

    Disk* disk_ = nullptr;
    FileDescriptor own_;
    int fd_ = -1; // locked
};

// The backup's name: the page path up to and including the last "." of the page's own
// name, then "bak"; without a "." in that name, the page path + ".bak".
std::string BackupPathOf(const std::string& pagePath);

// The include path of a tag's name: a backslash reads as "/", a name starting with "/" is
// absolute, any other name lies in folder.
std::string ResolveIncludePath(const std::string& folder, std::string includeName);
