#include "batch_run.h"

#include "flusher.h"
#include "mod_global.h"
#include "new_file.h"
#include "wording.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <deque>
#include <fcntl.h>

namespace {

// Pages whose new files are being flushed while the run reads the next ones: enough for
// the disk to overlap their flushes, few enough to hold memory and descriptors flat.
constexpr std::size_t kPagesInFlight = 8;

struct PageInFlight {
    std::unique_ptr<PagePass> pass;
    std::future<std::vector<int>> flushed; // not valid when the page needs no flush
};

// Each replaced page's content reached the disk before its rename; this makes the renames
// themselves durable, once for the whole run. 0, or the errno value of a failed flush; a
// file system that cannot flush a folder has nothing to flush.
int SyncFolder(Disk& disk, const std::string& folder) {
    FileDescriptor fd;
    if (disk.Open(folder, O_RDONLY | O_DIRECTORY, 0, fd) != 0)
        return 0;
    const int error = disk.Sync(fd.get());
    return error == EINVAL || error == ENOTSUP ? 0 : error;
}

} // namespace

BatchSummary RunBatch(BatchHost& host, const std::vector<BatchEntry>& entries,
                      const PassOptions& options) {
    Disk& disk = options.disk != nullptr ? *options.disk : RealDisk();
    const std::string folder = host.pathDisplay();
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
        modGlobal::AppendLogLine(LogHeaderLine(folder, local));
    }
    if (!options.checkOnly) {
        FolderLock lock;
        if (lock.Take(host, folder, disk))
            RemoveLeftovers(disk, folder);
    }

    // Pages are completed in list order: each is put in place as soon as it and every page
    // before it are flushed, and the run waits (letting events through) only when too many
    // are in flight, and at its end.
    Flusher flusher(disk, static_cast<int>(kPagesInFlight));
    std::deque<PageInFlight> inFlight;
    bool pageWritten = false;
    const auto completeFlushed = [&](bool all) {
        while (!inFlight.empty()) {
            PageInFlight& page = inFlight.front();
            if (page.flushed.valid()) {
                const bool mustWait = all || inFlight.size() >= kPagesInFlight;
                while (page.flushed.wait_for(std::chrono::milliseconds(mustWait ? 10 : 0)) !=
                       std::future_status::ready) {
                    if (!mustWait)
                        return;
                    host.doEvents();
                }
            }
            const PageOutcome outcome =
                page.pass->Complete(page.flushed.valid() ? page.flushed.get() : std::vector<int>{});
            inFlight.pop_front();
            summary.problems += (outcome.problem ? 1 : 0) + (outcome.tempNotDeleted ? 1 : 0);
            if (outcome.wouldChange)
                summary.wouldChange.push_back(outcome.page);
            pageWritten =
                pageWritten || (outcome.result == PageResult::Replaced && !outcome.upToDate);
        }
    };
    for (const BatchEntry& entry : entries) {
        if (entry.selected && !state.AbortRequested) {
            PageInFlight page{std::make_unique<PagePass>(host, entry.name, options), {}};
            if (page.pass->Run())
                page.flushed = flusher.Flush(page.pass->FilesToFlush());
            inFlight.push_back(std::move(page));
            completeFlushed(false);
            // The pass's files are closed as it returns, also when it stopped early.
            host.clearStatus();
        }
        host.doEvents();
        if (state.AbortRequested)
            break;
    }
    // Pages already written are finished (or stay as they were), also after an abort.
    completeFlushed(true);

    // A run of only changed pages that changed none leaves the folder alone altogether.
    if (!options.checkOnly && (!options.onlyChanged || pageWritten)) {
        if (SyncFolder(disk, folder) != 0) {
            ReportProblem(host, Problem{ProblemKind::FolderNotFlushed, {}, folder});
            ++summary.problems;
        }
    }
    host.UpdateRecentFolders();
    host.runEnded();
    // A temporary file under another run's lock is that run's own, and it removes it.
    if (!options.checkOnly) {
        bool folderFree = false;
        {
            FolderLock lock;
            folderFree = lock.TryTake(folder, disk);
        }
        if (folderFree && !DeleteTempFile(host, folder + modGlobal::kTempFileName, disk))
            ++summary.problems;
    }
    summary.aborted = state.AbortRequested;
    host.runClosed(summary.aborted);
    return summary;
}
