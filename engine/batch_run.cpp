#include "batch_run.h"

#include "disk.h"
#include "flusher.h"
#include "mod_global.h"
#include "new_file.h"
#include "tag_pass.h"
#include "wording.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <set>
#include <unistd.h>

namespace {

// A run's turn in its folder: one run at a time writes pages there, so that two runs never
// fail each other's pages. An flock of the folder, gone when it is let go or when the
// process ends.
class FolderTurn {
  public:
    // Takes the turn, telling events once and letting events through while another run
    // holds it; false when the run was stopped first. A folder that cannot be locked (a
    // file system without locks) counts as taken.
    bool Take(Disk& disk, const std::string& folder, RunEvents& events) {
        disk_ = &disk;
        if (!fd_.valid() && disk.Open(folder, O_RDONLY | O_DIRECTORY, 0, fd_) != 0)
            return held_ = true;
        bool told = false;
        int error;
        while ((error = disk.Lock(fd_.get())) == EWOULDBLOCK) {
            if (!told)
                events.waitingForFolder();
            told = true;
            if (events.doEvents())
                return false;
            ::usleep(10 * 1000);
        }
        return held_ = true;
    }

    void Release() {
        if (held_ && fd_.valid())
            (void)disk_->Unlock(fd_.get());
        held_ = false;
    }

    bool held() const { return held_; }

  private:
    Disk* disk_ = nullptr;
    FileDescriptor fd_;
    bool held_ = false;
};

bool Conflict(const PageIdentity& a, const PageIdentity& b) {
    if (a.exists && b.exists && a.device == b.device && a.inode == b.inode)
        return true;
    if (a.target == b.target)
        return true;
    const auto backsUp = [](const PageIdentity& one, const PageIdentity& other) {
        return !one.backup.empty() && (one.backup == other.path || one.backup == other.target ||
                                       one.backup == other.backup);
    };
    return backsUp(a, b) || backsUp(b, a);
}

// The road to the pages' folder: through the descriptor the caller holds open, where the
// system offers one, else by the folder's name.
std::string PagesFolder(const RunOptions& options, Disk& disk) {
    const std::string held = "/proc/self/fd/" + std::to_string(options.folderFd) + "/";
    struct stat status {};
    return options.folderFd >= 0 && disk.Status(held, status) == 0 && S_ISDIR(status.st_mode)
               ? held
               : options.folder;
}

class Run : public PassRun {
  public:
    Run(const RunOptions& options, RunEvents& events)
        : options_(options), disk_(options.disk != nullptr ? *options.disk : RealDisk()),
          events_(events), pages_(PagesFolder(options, disk_)), folder_(FolderOf(pages_ + "x")),
          inFlight_(static_cast<std::size_t>(std::max(1, options.pagesInFlight))) {
        if (inFlight_ > 1 && !options.checkOnly)
            flusher_ = std::make_unique<Flusher>(static_cast<int>(inFlight_));
    }

    RunOutcome Go(const std::vector<std::string>& pages);

    bool HoldFolder() override { return turn_.held() || turn_.Take(disk_, pages_, events_); }

    int MakeNewFile(const std::string& folder, NewFile& file) override {
        if (cleaned_.insert(folder).second)
            RemoveLeftovers(disk_, folder);
        written_.insert(folder);
        if (folder == folder_ && flusher_) {
            FileDescriptor made = MadeFile();
            if (made.valid()) {
                file.Use(std::move(made), folder);
                return 0;
            }
        }
        return file.Create(folder);
    }

  private:
    struct Page {
        std::unique_ptr<PagePass> pass;
        std::future<void> flushed; // valid while its new files are on their way
        PageIdentity identity;
    };

    void Add(const std::string& name);
    // Completes the pages at the front that are done, in list order; with all, every page,
    // waiting as it must. A run lets its folder go whenever no page is on its way.
    void Complete(bool all);
    void Report(PageOutcome& outcome);
    // Waits until every page on its way is in place, letting events through, and lets the
    // folder go: no lock is held while a problem waits for the user.
    void LetFolderGo();
    bool Flushed(Page& page, bool wait);
    FileDescriptor MadeFile();
    void WriteLogHeader();
    void FlushFolders();

    const RunOptions& options_;
    Disk& disk_;
    RunEvents& events_;
    const std::string pages_;  // the road to the pages' folder, with "/"
    const std::string folder_; // the same without its final "/"
    const std::size_t inFlight_;
    RunOutcome outcome_;
    FolderTurn turn_;
    std::set<std::string> cleaned_; // folders whose leftovers are gone
    std::set<std::string> written_; // folders that got new files
    std::deque<Page> queue_;        // pages from their pass to their entry, in list order
    std::deque<std::future<FileDescriptor>> made_;
    // Last, so its threads are gone before anything they use.
    std::unique_ptr<Flusher> flusher_;
};

RunOutcome Run::Go(const std::vector<std::string>& pages) {
    if (options_.errorMessagesOff)
        WriteLogHeader();
    for (const std::string& page : pages) {
        Add(page);
        if (events_.doEvents())
            break;
    }
    // Pages already written are finished (or stay as they were), also after an abort.
    Complete(true);
    FlushFolders();
    turn_.Release();
    return outcome_;
}

void Run::Add(const std::string& name) {
    Page page{std::make_unique<PagePass>(options_, pages_, disk_, events_, *this, name), {}, {}};
    bool identified = true;
    if (!options_.checkOnly && (identified = page.pass->Identify(page.identity)))
        for (Page& other : queue_)
            if (other.flushed.valid() && Conflict(page.identity, other.identity))
                Flushed(other, true);
    if (identified && page.pass->Run()) {
        if (flusher_)
            page.flushed = flusher_->Run([pass = page.pass.get()] { pass->FlushAndPutInPlace(); });
        else
            page.pass->FlushAndPutInPlace();
    }
    queue_.push_back(std::move(page));
    Complete(false);
}

void Run::Complete(bool all) {
    while (!queue_.empty()) {
        Page& page = queue_.front();
        if (page.flushed.valid()) {
            if (!Flushed(page, all || queue_.size() >= inFlight_))
                return;
            page.flushed.get();
        }
        Report(page.pass->outcome());
        queue_.pop_front();
    }
    turn_.Release();
}

void Run::Report(PageOutcome& outcome) {
    switch (outcome.result) {
    case PageResult::Aborted:
        outcome_.aborted = true;
        return;
    case PageResult::Replaced:
        ++outcome_.processed;
        break;
    case PageResult::NoBlocks:
    case PageResult::Failed:
        ++outcome_.skipped;
        break;
    }
    if (outcome.wouldChange)
        outcome_.wouldChange.push_back(outcome.page);
    if (outcome.problem) {
        LetFolderGo();
        ++outcome_.problems;
        ReportProblem(events_, options_.errorMessagesOff, *outcome.problem, disk_);
    }
    events_.pageFinished(outcome);
}

void Run::LetFolderGo() {
    for (Page& page : queue_)
        if (page.flushed.valid())
            Flushed(page, true);
    turn_.Release();
}

bool Run::Flushed(Page& page, bool wait) {
    while (page.flushed.wait_for(std::chrono::milliseconds(wait ? 10 : 0)) !=
           std::future_status::ready) {
        if (!wait)
            return false;
        (void)events_.doEvents(); // what is on its way is finished, also after an abort
    }
    return true;
}

// A new, nameless file in the pages' folder, made ahead of need on the flusher's threads;
// the first call starts making them and gives none.
FileDescriptor Run::MadeFile() {
    FileDescriptor made;
    if (!made_.empty()) {
        made = made_.front().get();
        made_.pop_front();
    }
    while (made_.size() < inFlight_)
        made_.push_back(flusher_->Run([this] {
            FileDescriptor fd;
            (void)disk_.OpenNameless(folder_, fd);
            return fd;
        }));
    return made;
}

// The separator and the header line that start a run's part of the error log. A header
// that cannot be written loses no report: the problems themselves fall back to boxes.
void Run::WriteLogHeader() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    modGlobal::AppendLogLine(" ", disk_);
    modGlobal::AppendLogLine(LogHeaderLine(options_.folder, local), disk_);
}

// Each replaced page's content reached the disk before its rename; this makes the renames
// themselves durable, once for each folder of the run. A file system that cannot flush a
// folder has nothing to flush.
void Run::FlushFolders() {
    for (const std::string& folder : written_) {
        FileDescriptor fd;
        if (disk_.Open(folder, O_RDONLY | O_DIRECTORY, 0, fd) != 0)
            continue;
        const int error = disk_.Sync(fd.get());
        if (error == 0 || error == EINVAL || error == ENOTSUP)
            continue;
        ++outcome_.problems;
        const std::string named = folder == folder_ ? options_.folder : folder + "/";
        ReportProblem(events_, options_.errorMessagesOff,
                      Problem{ProblemKind::FolderNotFlushed, {}, named, error, 0}, disk_);
    }
}

} // namespace

RunOutcome RunBatch(const RunOptions& options, const std::vector<std::string>& pages,
                    RunEvents& events) {
    Run run(options, events);
    return run.Go(pages);
}
