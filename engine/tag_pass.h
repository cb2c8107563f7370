#pragma once

// The tag replacement pass: refreshes the include blocks of one page.

#include "disk.h"
#include "run_host.h"

#include <memory>
#include <string>
#include <vector>

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
};

// Refreshes the page named pageName in the host's folder: tells the host its stages,
// reports its problem once the folder is free again, and gives the host the page's entry.
PageOutcome ProcessFile(PassHost& host, const std::string& pageName,
                        const PassOptions& options = {});

// ProcessFile in two steps, so that a page's new files can be flushed while the next page
// is read: Run reads the page and writes its new version; Complete puts it in place.
class PagePass {
  public:
    PagePass(PassHost& host, const std::string& pageName, const PassOptions& options);
    ~PagePass();

    // True when the page's new files (FilesToFlush) wait to be flushed; false when the
    // page is done and Complete only reports it.
    bool Run();
    std::vector<int> FilesToFlush() const;
    // With the flushes' results (0 or an errno value, one for each file of FilesToFlush):
    // puts the page in place while it is still the page that was read, reports its problem
    // and gives the host its entry.
    PageOutcome Complete(const std::vector<int>& flushErrors = {});

  private:
    std::unique_ptr<class Pass> pass_;
    PassHost& host_;
    std::string pageName_;
};

// Removes the temporary file if it is a file or a link (a plain unlink: a folder of that
// name is left alone) and reports a failure. Returns false when it reported one.
bool DeleteTempFile(PassHost& host, const std::string& tempPath, Disk& disk = RealDisk());

// A folder's lock, which one run at a time holds while it works on a page: two runs in a
// folder share its temporary file, so they take turns page by page. Released when it goes,
// or when the process ends.
class FolderLock {
  public:
    // Takes the lock, telling the host once and letting events through while another run
    // holds it; false when an abort came first. A folder that cannot be locked (a file
    // system without locks) counts as locked.
    bool Take(PassHost& host, const std::string& folder, Disk& disk);
    // Takes the lock only if it is free at once.
    bool TryTake(const std::string& folder, Disk& disk);

  private:
    FileDescriptor fd_;
};

// The backup's name: the page path up to and including the last "." of the page's own
// name, then "bak"; without a "." in that name, the page path + ".bak".
std::string BackupPathOf(const std::string& pagePath);

// The include path of a tag's name: a backslash reads as "/", a name starting with "/" is
// absolute, any other name lies in folder.
std::string ResolveIncludePath(const std::string& folder, std::string includeName);
