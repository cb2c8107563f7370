#pragma once

// reririduruv-cli --watch: keeps a site refreshed while it is edited.

#include "options.h"

// Refreshes the site's pages that are out of date, then watches every page and every
// include file a page names, and whenever some of them have been saved and all is quiet
// for a moment, refreshes the pages that depend on them. Ends on an abort signal (exit
// 130), when the output is lost (exit 3), or when the folder cannot be read or goes away
// (exit 2, said on stderr); a problem of a page never ends it.
int WatchSite(const CliOptions& options);
