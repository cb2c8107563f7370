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

// The run's pages from their pass to their entry, in list order: each is put in place as
// soon as it and every page before it are flushed. The run waits, letting events through,
// only when too many are in flight, and at its end.
class PagesInFlight {
  public:
    PagesInFlight(BatchHost& host, Disk& disk, const std::string& folder, BatchSummary& summary)
        : host_(host), disk_(disk), folder_(folder), flusher_(static_cast<int>(kPagesInFlight)),
          summary_(summary) {}

    // A new, nameless file in the folder, made ahead of need; the first call starts making
    // them and gives none.
    FileDescriptor MadeFile() {
        FileDescriptor made;
        if (!made_.empty()) {
            made = made_.front().get();
            made_.pop_front();
        }
        while (made_.size() < kPagesInFlight)
            made_.push_back(flusher_.Run([this] {
                FileDescriptor fd;
                (void)disk_.Open(folder_, O_TMPFILE | O_RDWR, 0600, fd);
                return fd;
            }));
        return made;
    }

    void Add(std::unique_ptr<PagePass> pass) {
        Page page{std::move(pass), {}};
        if (page.pass->Run())
            page.flushed = flusher_.Run([pass = page.pass.get()] { pass->FlushAndPutInPlace(); });
        pages_.push_back(std::move(page));
        Complete(false);
    }

    // Completes the pages that are ready; with all, every page, waiting as it must.
    void Complete(bool all) {
        while (!pages_.empty()) {
            Page& page = pages_.front();
            if (page.flushed.valid() && !Flushed(page, all || pages_.size() >= kPagesInFlight))
                return;
            if (page.flushed.valid())
                page.flushed.get();
            const PageOutcome outcome = page.pass->Complete();
            pages_.pop_front();
            summary_.problems += (outcome.problem ? 1 : 0) + (outcome.tempNotDeleted ? 1 : 0);
            if (outcome.wouldChange)
                summary_.wouldChange.push_back(outcome.page);
            written = written || (outcome.result == PageResult::Replaced && !outcome.upToDate);
        }
    }

    bool written = false; // a page was written, not only compared

  private:
    struct Page {
        std::unique_ptr<PagePass> pass;
        std::future<void> flushed; // not valid when the page needs no flush
    };

    bool Flushed(Page& page, bool wait) {
        while (page.flushed.wait_for(std::chrono::milliseconds(wait ? 10 : 0)) !=
               std::future_status::ready) {
            if (!wait)
                return false;
            host_.doEvents();
        }
        return true;
    }

    BatchHost& host_;
    Disk& disk_;
    const std::string folder_;
    Flusher flusher_;
    BatchSummary& summary_;
    std::deque<Page> pages_;
    std::deque<std::future<FileDescriptor>> made_;
};

// The separator and the header line that start a run's part of the error log. A header
// that cannot be written loses no report: the problems themselves fall back to boxes.
void WriteLogHeader(const std::string& folder) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    modGlobal::AppendLogLine(" ");
    modGlobal::AppendLogLine(LogHeaderLine(folder, local));
}

// Each replaced page's content reached the disk before its rename; this makes the renames
// themselves durable, once for the whole run. A file system that cannot flush a folder has
// nothing to flush. The number of problems reported.
int FlushFolder(BatchHost& host, Disk& disk, const std::string& folder) {
    FileDescriptor fd;
    if (disk.Open(folder, O_RDONLY | O_DIRECTORY, 0, fd) != 0)
        return 0;
    const int error = disk.Sync(fd.get());
    if (error == 0 || error == EINVAL || error == ENOTSUP)
        return 0;
    ReportProblem(host, Problem{ProblemKind::FolderNotFlushed, {}, folder});
    return 1;
}

// Removes the run's temporary file, which the last page, or a pass that stopped early, left
// behind; a file under that name that the run did not make (another run's, or a page
// named so) is not the run's to remove. The number of problems reported.
int RemoveRunsTempFile(BatchHost& host, Disk& disk, const std::string& folder, RunFiles& run) {
    if (!run.temp.valid())
        return 0;
    run.temp.close();
    return DeleteTempFile(host, folder + modGlobal::kTempFileName, disk, run.tempStatus) ? 0 : 1;
}

} // namespace

BatchSummary RunBatch(BatchHost& host, const std::vector<BatchEntry>& entries,
                      const PassOptions& runOptions) {
    PassOptions options = runOptions;
    RunFiles runFiles;
    options.runFiles = &runFiles;
    Disk& disk = options.disk != nullptr ? *options.disk : RealDisk();
    const std::string folder = host.pathDisplay();
    BatchSummary summary;
    RunState& state = host.runState();
    state.AbortRequested = false;
    host.runStarted();
    host.clearProcessed();
    state.ProcessedCount = 0;
    state.SkippedCount = 0;
    if (host.errorMessagesOff())
        WriteLogHeader(folder);
    if (!options.checkOnly) {
        FolderLock lock;
        if (lock.Take(host, folder, disk, &runFiles))
            RemoveLeftovers(disk, folder);
    }

    PagesInFlight pages(host, disk, folder, summary);
    if (!options.checkOnly)
        runFiles.madeFile = [&pages] { return pages.MadeFile(); };
    for (const BatchEntry& entry : entries) {
        if (entry.selected && !state.AbortRequested) {
            pages.Add(std::make_unique<PagePass>(host, entry.name, options));
            // The pass's files are closed as it returns, also when it stopped early.
            host.clearStatus();
        }
        host.doEvents();
        if (state.AbortRequested)
            break;
    }
    // Pages already written are finished (or stay as they were), also after an abort.
    pages.Complete(true);

    // A run of only changed pages that changed none leaves the folder alone altogether.
    if (!options.checkOnly && (!options.onlyChanged || pages.written))
        summary.problems += FlushFolder(host, disk, folder);
    host.UpdateRecentFolders();
    host.runEnded();
    if (!options.checkOnly)
        summary.problems += RemoveRunsTempFile(host, disk, folder, runFiles);
    summary.aborted = state.AbortRequested;
    host.runClosed(summary.aborted);
    return summary;
}
