#pragma once

// One run of reririduruv-cli over a folder, or a whole site, once its options are known.

#include "cli_host.h"
#include "options.h"
#include "run_host.h"
#include "site_walk.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the batches of several folders came to together.
struct RunTotals {
    bool aborted = false;
    int problems = 0;
    std::int64_t processed = 0;
    std::int64_t skipped = 0;
    std::vector<std::string> wouldChange; // relative to the site's folder
};

// Runs the batches of a site's folders with one host, which prints what they tell it.
class SiteRun {
  public:
    SiteRun(const CliOptions& options, std::size_t pageCount);

    // One batch for each folder, run in that folder as if it had been named alone, so
    // include names and the log's run header belong to it.
    RunTotals Refresh(const std::vector<SiteFolder>& site);
    // Prints the run's closing lines (or, checking, the pages that would change) once for
    // all folders, and gives the exit status.
    int Close(const RunTotals& totals);

    CliHost& host() { return host_; }

  private:
    const CliOptions options_;
    CliHost host_;
    RunOptions runOptions_;
};

// Refreshes (or checks) the pages the options name, prints the list and the summary, and
// returns the exit status.
int RunSite(const CliOptions& options);
