#pragma once

// The batch run after its confirmations: every selected entry through the pass, the abort
// check after each, the closing message and the summary.

#include "pass_host.h"
#include "tag_pass.h"

#include <ctime>
#include <string>
#include <vector>

// The window's side of a run, beyond what the pass itself needs.
class BatchHost : public PassHost {
  public:
    // The Abort button becomes the default button, is enabled and takes the focus.
    virtual void runStarted() = 0;
    // Records the path box's folder at the head of the recent-folders list.
    virtual void UpdateRecentFolders() = 0;
    // The Abort button is disabled; the Process button becomes default and takes the focus.
    virtual void runEnded() = 0;
    // "Processing aborted by user!" or "Done!".
    virtual void showClosingMessage(bool aborted) = 0;
    // After the pass over one entry, with what it came to; the window needs nothing here.
    virtual void pageFinished(const std::string& pageName, const PageOutcome& outcome) {
        (void)pageName;
        (void)outcome;
    }
};

struct BatchEntry {
    std::string name;
    bool selected = false;
};

struct BatchSummary {
    bool aborted = false;
    int problems = 0;                     // reported problems, of pages and of the run
    std::vector<std::string> wouldChange; // checking only: pages whose bytes would change
};

BatchSummary RunBatch(BatchHost& host, const std::vector<BatchEntry>& entries,
                      const PassOptions& options = {});

// "Processing path: " + folder + " - " + date as m/d/yy + " " + time as hh:mm AM/PM.
std::string LogHeaderLine(const std::string& folder, const std::tm& when);
