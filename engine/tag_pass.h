#pragma once

// The tag replacement pass: refreshes the include blocks of one page. A run (batch_run.h)
// hands it each of its pages and reports what came of them.

#include "disk.h"
#include "new_file.h"
#include "run_host.h"

#include <memory>
#include <string>

// What a page's pass asks of the run it belongs to.
class PassRun {
  public:
    virtual ~PassRun() = default;
    // The run's turn in its folder, taken before a page is written and kept while its
    // pages are on their way; false when the run was stopped while it waited.
    virtual bool HoldFolder() = 0;
    // A new file in folder for a page or a backup, made ahead of need where the run can;
    // the leftovers of interrupted runs in that folder go first. 0 or an errno value.
    virtual int MakeNewFile(const std::string& folder, NewFile& file) = 0;
};

// What a page touches when it is written: the file its name leads to (by device and inode,
// and by the name its links lead to) and its backup's name, as lexically normal paths.
struct PageIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;
    std::string target;
    std::string backup; // empty without backups
};

// ProcessFile in steps, so that a page's new files can be flushed and put in place on
// another thread while the run reads the next page: Run reads the page and writes its new
// version; FlushAndPutInPlace, on any thread, makes the backup, flushes the new page and
// puts it in place while the page is still the page that was read; outcome() is what came
// of it.
class PagePass {
  public:
    // The page is pageName in the folder reached as pages (options.folder, or a road to
    // the folder the run holds open).
    PagePass(const RunOptions& options, const std::string& pages, Disk& disk, RunEvents& events,
             PassRun& run, const std::string& pageName);
    ~PagePass();

    // Looks up what the page will touch, before a page that touches the same may be
    // written meanwhile; false when the page failed there (outcome() says why).
    bool Identify(PageIdentity& identity);
    // True when the page's new files wait for FlushAndPutInPlace.
    bool Run();
    void FlushAndPutInPlace();
    PageOutcome& outcome();

  private:
    std::unique_ptr<class Pass> pass_;
};

// The backup's name: the page path up to and including the last "." of the page's own
// name, then "bak"; without a "." in that name, the page path + ".bak".
std::string BackupPathOf(const std::string& pagePath);

// The include path of a tag's name: a backslash reads as "/", a name starting with "/" is
// absolute, any other name lies in folder.
std::string ResolveIncludePath(const std::string& folder, std::string includeName);
