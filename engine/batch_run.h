#pragma once

// The batch run: every page through the pass, in list order, the abort check after each,
// problems reported, the run's outcome counted. The host's own steps around a run (its
// confirmations, its buttons, its closing) are the host's.

#include "run_host.h"

#include <string>
#include <vector>

// Refreshes (or checks) the pages of options.folder, named by their bare names, and tells
// events what happens. With "Error msgs off" the error log gets the run's header first.
// Several pages may be on their way at once, but what comes of the run is what would come
// of its pages one after the other: pages that are one file, or that share a backup name,
// are never on their way together.
RunOutcome RunBatch(const RunOptions& options, const std::vector<std::string>& pages,
                    RunEvents& events);
