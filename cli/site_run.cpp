#include "site_run.h"

#include "batch_run.h"
#include "file_list.h"
#include "mod_global.h"
#include "wording.h"

#include <cstring>

namespace {

CliHost::Options HostOptions(const CliOptions& options, std::size_t pageCount) {
    CliHost::Options host;
    host.logToFile = !options.logFile.empty();
    host.checking = options.check;
    host.diff = options.diff;
    host.detail = options.quiet     ? CliHost::Detail::Quiet
                  : options.verbose ? CliHost::Detail::Verbose
                                    : CliHost::Detail::Normal;
    host.pageCount = pageCount;
    return host;
}

} // namespace

SiteRun::SiteRun(const CliOptions& options, std::size_t pageCount)
    : options_(options), host_(HostOptions(options, pageCount)) {
    if (!options.logFile.empty())
        modGlobal::SetLogFile(options.logFile);
    CliHost::InstallSignals();
    runOptions_.backup = options.backup;
    runOptions_.errorMessagesOff = !options.logFile.empty();
    runOptions_.checkOnly = options.check;
    runOptions_.onlyChanged = options.onlyChanged;
    runOptions_.keepRefreshed = options.diff;
}

RunTotals SiteRun::Refresh(const std::vector<SiteFolder>& site) {
    RunTotals totals;
    const int diffProblemsBefore = host_.diffProblems();
    for (const SiteFolder& folder : site) {
        if (CliHost::AbortSignalled() || host_.outputLost()) {
            totals.aborted = true;
            break;
        }
        host_.SetFolder(folder.path, folder.prefix);
        if (folder.error != 0) {
            host_.Report(Problem{ProblemKind::FolderUnreadable, {}, folder.path, folder.error, 0});
            ++totals.problems;
            continue;
        }
        runOptions_.folder = folder.path;
        const RunOutcome outcome = RunBatch(runOptions_, folder.pages, host_);
        totals.problems += outcome.problems;
        totals.processed += outcome.processed;
        totals.skipped += outcome.skipped;
        for (const std::string& name : outcome.wouldChange)
            totals.wouldChange.push_back(folder.prefix + name);
        if (outcome.aborted || CliHost::AbortSignalled() || host_.outputLost()) {
            totals.aborted = true;
            break;
        }
    }
    host_.ClearProgress();
    totals.problems += host_.diffProblems() - diffProblemsBefore;
    return totals;
}

int SiteRun::Close(const RunTotals& totals) {
    if (options_.check) {
        if (!options_.quiet)
            for (const std::string& name : totals.wouldChange)
                host_.PrintLine(name);
    } else {
        if (totals.aborted && !host_.outputLost())
            host_.PrintLine(kAbortedLine);
        host_.PrintLine(ProcessedLine(totals.processed));
        host_.PrintLine(SkippedLine(totals.skipped));
    }
    if (host_.outputLost())
        return kExitOutputLost;
    if (totals.aborted)
        return kExitAborted;
    if (totals.problems > 0 || !totals.wouldChange.empty())
        return kExitProblems;
    return 0;
}

int RunSite(const CliOptions& options) {
    const std::string folder = modGlobal::AddBackslash(options.folder);

    std::vector<SiteFolder> site;
    if (options.pages.empty()) {
        if (const int error = ListSite(folder, options.allFiles ? kAllFilesPattern : kHtmlPatterns,
                                       options.recursive, false, site))
            return UsageError("cannot read folder: " + folder + ": " + std::strerror(error));
    } else {
        site.push_back({folder, "", options.pages, 0});
    }
    std::size_t pageCount = 0;
    for (const SiteFolder& siteFolder : site)
        pageCount += siteFolder.pages.size();
    SiteRun run(options, pageCount);
    return run.Close(run.Refresh(site));
}
