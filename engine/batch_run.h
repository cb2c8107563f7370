#pragma once

// The batch run after its confirmations: every selected entry through the pass, the abort
// check after each, the closing message and the summary.

#include "run_host.h"
#include "tag_pass.h"

#include <string>
#include <vector>

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
