#include "batch_run.h"

#include "mod_global.h"
#include "posix_file.h"

#include <cstdio>

std::string LogHeaderLine(const std::string& folder, const std::tm& when) {
    const int hour12 = when.tm_hour % 12 == 0 ? 12 : when.tm_hour % 12;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d/%d/%02d %02d:%02d %s", when.tm_mon + 1, when.tm_mday,
                  when.tm_year % 100, hour12, when.tm_min, when.tm_hour < 12 ? "AM" : "PM");
    return "Processing path: " + folder + " - " + stamp;
}

BatchSummary RunBatch(BatchHost& host, const std::vector<BatchEntry>& entries,
                      const PassOptions& options) {
    BatchSummary summary;
    RunState& state = host.runState();
    state.AbortRequested = false;
    host.runStarted();
    host.clearProcessed();
    state.ProcessedCount = 0;
    state.SkippedCount = 0;

    if (host.errorMessagesOff()) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        ::localtime_r(&now, &local);
        // A header that cannot be written loses no report: the problems themselves fall
        // back to message boxes.
        modGlobal::AppendLogLine(" ");
        modGlobal::AppendLogLine(LogHeaderLine(host.pathDisplay(), local));
    }

    bool pageWritten = false;
    for (const BatchEntry& entry : entries) {
        if (entry.selected) {
            const PageOutcome outcome = ProcessFile(host, entry.name, options);
            summary.problems += outcome.problems;
            if (outcome.wouldChange)
                summary.wouldChange.push_back(entry.name);
            pageWritten =
                pageWritten || (outcome.result == PageResult::Replaced && !outcome.upToDate);
            host.pageFinished(entry.name, outcome);
            // The pass's files are closed as it returns, also when it stopped early.
            host.setStatus("");
        }
        host.doEvents();
        if (state.AbortRequested)
            break;
    }

    // Each replaced page's content reached the disk before its rename; this makes the
    // renames themselves durable, once for the whole run. A run of only changed pages that
    // changed none leaves the folder alone altogether.
    if (!options.checkOnly && (!options.onlyChanged || pageWritten))
        posix::SyncFolder(host.pathDisplay());
    host.UpdateRecentFolders();
    host.runEnded();
    // A temporary file under another run's lock is that run's own, and it removes it.
    posix::FolderLock lock;
    if (!options.checkOnly && lock.TryLock(host.pathDisplay()) &&
        !DeleteTempFile(host, host.pathDisplay() + kTempFileName))
        ++summary.problems;
    summary.aborted = state.AbortRequested;
    if (summary.aborted)
        host.addProcessed(">>processing aborted!");
    host.showClosingMessage(summary.aborted);
    host.addProcessed(">" + std::to_string(state.ProcessedCount) + " file(s) processed. ");
    host.addProcessed(">" + std::to_string(state.SkippedCount) + " file(s) skipped.");
    return summary;
}
