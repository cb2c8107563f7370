#pragma once

// One run of reririduruv-cli over a folder, or a whole site, once its options are known.

#include "options.h"

// Refreshes (or checks) the pages the options name, prints the list and the summary, and
// returns the exit status.
int RunSite(const CliOptions& options);
