#include "site_run.h"

#include "batch_run.h"
#include "cli_host.h"
#include "file_list.h"
#include "mod_global.h"
#include "site_walk.h"
#include "wording.h"

#include <cstdint>
#include <cstring>

namespace {

// What the batches of all folders came to together.
struct RunTotals {
    bool aborted = false;
    int problems = 0;
    std::int64_t processed = 0;
    std::int64_t skipped = 0;
    std::vector<std::string> wouldChange; // relative to the site's folder
};

CliHost::Options HostOptions(const CliOptions& options, std::size_t pageCount) {
    CliHost::Options host;
    host.backup = options.backup && !options.check;
    host.logToFile = !options.logFile.empty();
    host.checking = options.check;
    host.diff = options.diff;
    host.detail = options.quiet     ? CliHost::Detail::Quiet
                  : options.verbose ? CliHost::Detail::Verbose
                                    : CliHost::Detail::Normal;
    host.pageCount = pageCount;
    return host;
}

// One batch for each folder, run in that folder as if it had been named alone, so include
// names, the temporary file and the log's run header all belong to it.
RunTotals RunFolders(CliHost& host, const std::vector<SiteFolder>& site,
                     const PassOptions& passOptions) {
    RunTotals totals;
    for (const SiteFolder& folder : site) {
        if (CliHost::AbortSignalled() || host.outputLost()) {
            totals.aborted = true;
            break;
        }
        host.SetFolder(folder.path, folder.prefix);
        if (!folder.readable) {
            ReportProblem(host, Problem{ProblemKind::FolderUnreadable, {}, folder.path});
            ++totals.problems;
            continue;
        }
        std::vector<BatchEntry> entries;
        for (const std::string& name : folder.pages)
            entries.push_back({name, true});
        const BatchSummary summary = RunBatch(host, entries, passOptions);
        totals.problems += summary.problems;
        totals.processed += host.runState().ProcessedCount;
        totals.skipped += host.runState().SkippedCount;
        for (const std::string& name : summary.wouldChange)
            totals.wouldChange.push_back(folder.prefix + name);
        if (summary.aborted) {
            totals.aborted = true;
            break;
        }
    }
    totals.problems += host.diffProblems();
    return totals;
}

} // namespace

int RunSite(const CliOptions& options) {
    if (!modGlobal::CheckFolderExists(options.folder))
        return UsageError("folder not found: " + options.folder);
    const std::string folder = modGlobal::AddBackslash(options.folder);

    std::vector<SiteFolder> site;
    if (options.pages.empty()) {
        if (const int error = ListSite(folder, options.allFiles ? kAllFilesPattern : kHtmlPatterns,
                                       options.recursive, site))
            return UsageError("cannot read folder: " + folder + ": " + std::strerror(error));
    } else {
        site.push_back({folder, "", options.pages, true});
    }
    std::size_t pageCount = 0;
    for (const SiteFolder& siteFolder : site)
        pageCount += siteFolder.pages.size();

    if (!options.logFile.empty())
        modGlobal::SetLogFile(options.logFile);
    CliHost host(HostOptions(options, pageCount));
    CliHost::InstallSignals();
    PassOptions passOptions;
    passOptions.checkOnly = options.check;
    passOptions.onlyChanged = options.onlyChanged;
    if (options.diff)
        passOptions.refreshedBytes = host.refreshedBytes();

    const RunTotals totals = RunFolders(host, site, passOptions);

    // The batches' own closing lines are not printed; the run's come once, with the totals
    // of all folders.
    if (options.check) {
        if (!options.quiet)
            for (const std::string& name : totals.wouldChange)
                host.PrintLine(name);
    } else {
        if (totals.aborted && !host.outputLost())
            host.PrintLine(kAbortedLine);
        host.PrintLine(ProcessedLine(totals.processed));
        host.PrintLine(SkippedLine(totals.skipped));
    }
    if (host.outputLost())
        return kExitOutputLost;
    if (totals.aborted)
        return kExitAborted;
    if (totals.problems > 0 || !totals.wouldChange.empty())
        return kExitProblems;
    return 0;
}
