#include "site_run.h"

#include "batch_run.h"
#include "file_list.h"
#include "mod_global.h"
#include "wording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

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
    FileDescriptor root;
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
        // Each folder is reached from the site's folder down without following a link, so a
        // folder swapped for a link since the walk leads the run nowhere else.
        if (!root.valid())
            root = FileDescriptor(
                ::open(folder.path.substr(0, folder.path.size() - folder.prefix.size()).c_str(),
                       O_PATH | O_DIRECTORY | O_CLOEXEC));
        const FileDescriptor held(root.valid() ? OpenFolderBelow(root.get(), folder.prefix) : -1);
        if (!held.valid() && root.valid()) {
            host_.Report(Problem{ProblemKind::FolderUnreadable, {}, folder.path, errno, 0});
            ++totals.problems;
            continue;
        }
        runOptions_.folder = folder.path;
        runOptions_.folderFd = held.get();
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
                host_.PrintLine(Printable(name));
        // A failing check says what to do about it, also when it prints nothing else.
        if (!totals.wouldChange.empty() && !host_.outputLost()) {
            const std::size_t count = totals.wouldChange.size();
            std::fprintf(stderr, "reririduruv-cli: %zu %s out of date; refresh %s with: %s\n",
                         count, count == 1 ? "page is" : "pages are", count == 1 ? "it" : "them",
                         RefreshCommand(options_).c_str());
        }
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
    if (options_.check && totals.problems > 0)
        return kExitCheckProblems;
    if (totals.problems > 0 || !totals.wouldChange.empty())
        return kExitProblems;
    return 0;
}

namespace {

// The error log must not be one of the pages: each problem would change the page.
std::string LogAmongPages(const std::string& log, const std::vector<SiteFolder>& site) {
    struct stat logStatus {};
    if (log.empty() || ::stat(log.c_str(), &logStatus) != 0)
        return {};
    for (const SiteFolder& folder : site)
        for (const std::string& page : folder.pages) {
            struct stat status {};
            if (::stat((folder.path + page).c_str(), &status) == 0 && SameFile(status, logStatus))
                return "the log cannot be one of the pages: " + log;
        }
    return {};
}

} // namespace

int RunSite(const CliOptions& options) {
    const std::string folder = modGlobal::AddBackslash(options.folder);

    std::vector<SiteFolder> site;
    if (options.pages.empty()) {
        if (const int error = ListSite(folder, options.allFiles ? kAllFilesPattern : kHtmlPatterns,
                                       options.recursive, site, options.exclude))
            return UsageError("cannot read folder: " + folder + ": " + std::strerror(error));
    } else {
        site.push_back({folder, "", options.pages, 0});
        std::erase_if(site[0].pages,
                      [&](const std::string& page) { return Excluded(page, options.exclude); });
    }
    if (const std::string wrong = LogAmongPages(options.logFile, site); !wrong.empty())
        return UsageError(wrong);
    std::size_t pageCount = 0;
    for (const SiteFolder& siteFolder : site)
        pageCount += siteFolder.pages.size();
    SiteRun run(options, pageCount);
    return run.Close(run.Refresh(site));
}
