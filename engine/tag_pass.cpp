#include "tag_pass.h"

#include "mod_global.h"
#include "new_file.h"
#include "text_stream.h"
#include "wording.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

namespace {

// Comparing: the refreshed bytes are compared with the page's and, when the caller wants
// them, also kept.
class CheckSink : public text::OutputSink {
  public:
    CheckSink(Disk& disk, int pageFd, bool readAhead, std::string* keep)
        : compare_(disk, pageFd, readAhead), keep_(keep) {}
    bool Write(const char* data, std::size_t size) override {
        if (keep_ != nullptr)
            keep_->append(data, size);
        return compare_.Write(data, size);
    }
    bool Failed() const override { return compare_.Failed(); }
    bool Differs() { return compare_.Differs(); }

  private:
    text::CompareSink compare_;
    std::string* keep_;
};

// Removes the temporary file if ours still stands under its name. False when it could not
// be removed.
bool RemoveTempFile(Disk& disk, const std::string& tempPath, const struct stat& ours) {
    struct stat found {};
    if (const int error = disk.Status(tempPath, found, false))
        return error == ENOENT;
    if (!SameFile(found, ours))
        return true;
    const int error = disk.Unlink(tempPath);
    return error == 0 || error == ENOENT;
}

} // namespace

// The work of one page. Each failure notes its problem in the outcome and returns false;
// PagePass::Complete reports it once the folder's lock is free again.
class Pass {
  public:
    Pass(PassHost& host, Disk& disk, const std::string& pageName, const PassOptions& options)
        : host_(host), disk_(disk), state_(host.runState()), pageName_(pageName), options_(options),
          folder_(host.pathDisplay()), pagePath_(folder_ + pageName),
          tempPath_(folder_ + modGlobal::kTempFileName) {
        outcome_.page = pageName;
    }

    // True when the page's new files wait for FlushAndPutInPlace before Complete.
    bool Run();
    void FlushAndPutInPlace();
    PageOutcome Complete();

  private:
    // Reads the page through the tag pass into the temporary file or, comparing, into a
    // comparison with the page itself. False when it stopped (abort or problem).
    bool Read(bool comparing);
    bool OpenTempFile();
    // Something under the temporary file's name that a real run would refuse to replace.
    bool TempFileRefused();
    bool CopyPage(text::PageScanner& scanner);
    bool RefreshBlock(text::PageScanner& scanner, const text::Line& line);
    // The page's name still leads to the file that was opened, unchanged since.
    bool StillThePage();
    bool MakeBackup();
    bool PrepareReplacement();
    // The part of Run done under the folder's lock.
    bool Refresh();
    bool PutInPlace();
    // Counts the page.
    void Finish();
    void RemoveOwnTempFile();

    bool Fail(ProblemKind kind, const std::string& path = {});
    // Fail for a page whose new files wait: it is counted by Complete.
    bool Refuse(ProblemKind kind);
    // A failed write is the temporary file's fault; a failed read is the page's, or the
    // include file's when the page was read well.
    bool FailCopying(const text::PageScanner& scanner, const std::string& includePath = {}) {
        if (out_->Failed())
            return Fail(comparing_ ? ProblemKind::ReadFailed : ProblemKind::CreateFailed);
        if (scanner.Failed() || includePath.empty())
            return Fail(ProblemKind::ReadFailed);
        return Fail(ProblemKind::MissingInclude, includePath);
    }

    PassHost& host_;
    Disk& disk_;
    RunState& state_;
    const std::string pageName_;
    const PassOptions options_;
    const std::string folder_;
    const std::string pagePath_;
    const std::string tempPath_;

    bool comparing_ = false;
    FileDescriptor page_;
    struct stat opened_ {};
    FileDescriptor ownTemp_; // the temporary file, when the page has one of its own
    int temp_ = -1;          // the temporary file, the page's own or the run's
    // The temporary file: ours while writing; while comparing, the one found in the folder.
    bool tempFound_ = false;
    struct stat tempStat_ {};
    std::optional<text::FileSink> file_;
    std::optional<CheckSink> check_;
    text::OutputSink* out_ = nullptr;
    std::string lineEnd_;
    int blocks_ = 0;
    // The new versions of the backup and of the page, waiting to be flushed and put in
    // place; the page's under the name its links lead to.
    bool backup_ = false;
    std::optional<NewFile> newPage_;
    std::string target_;
    bool waiting_ = false; // the new files wait to be flushed and put in place
    PageOutcome outcome_;
};

bool Pass::Fail(ProblemKind kind, const std::string& path) {
    outcome_.result = PageResult::Failed;
    outcome_.blocks = blocks_;
    outcome_.problem = Problem{kind, pageName_, path};
    ++state_.SkippedCount;
    return false;
}

bool Pass::Refuse(ProblemKind kind) {
    outcome_.result = PageResult::Failed;
    outcome_.problem = Problem{kind, pageName_, {}};
    return false;
}

bool Pass::Read(bool comparing) {
    comparing_ = comparing;
    blocks_ = 0;
    lineEnd_.clear();
    check_.reset();
    file_.reset();
    if (disk_.OpenForReading(pagePath_, page_, opened_) != 0)
        return Fail(ProblemKind::ReadFailed);
    if (comparing_) {
        if (options_.checkOnly && !options_.onlyChanged && TempFileRefused())
            return Fail(ProblemKind::CreateFailed);
        tempFound_ = disk_.Status(tempPath_, tempStat_, false) == 0;
        // Checking keeps the reads it always made; an only-changed run, which compares
        // every page of a site, reads ahead.
        check_.emplace(disk_, page_.get(), !options_.checkOnly,
                       options_.checkOnly ? options_.refreshedBytes : nullptr);
        out_ = &*check_;
    } else {
        if (!OpenTempFile())
            return Fail(ProblemKind::CreateFailed);
        file_.emplace(disk_, temp_);
        out_ = &*file_;
    }
    text::PageScanner scanner(disk_, page_.get());
    if (!CopyPage(scanner))
        return false;
    if (!StillThePage())
        return Fail(ProblemKind::PageChanged);
    if (file_ && !file_->Flush())
        return Fail(ProblemKind::CreateFailed);
    return true;
}

bool Pass::OpenTempFile() {
    RunFiles* run = options_.runFiles;
    struct stat existing {};
    const int found = disk_.Status(tempPath_, existing, false);
    if (found != 0 && found != ENOENT)
        return false;
    // The run's temporary file serves the next page, emptied, while it is still the file
    // under that name.
    if (run != nullptr && run->temp.valid()) {
        if (found == 0 && SameFile(existing, run->tempStatus) && !SameFile(existing, opened_)) {
            if (disk_.Truncate(run->temp.get()) != 0)
                return false;
            tempStat_ = run->tempStatus;
            tempFound_ = true;
            temp_ = run->temp.get();
            return true;
        }
        run->temp.close();
    }
    // Otherwise it is made anew rather than emptied, so that a link under its name can
    // never truncate another file; only a page that is itself the temporary file would be
    // lost that way, and that one is refused. What is neither a file nor a link stays.
    if (found == 0) {
        if (SameFile(existing, opened_) ||
            (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)))
            return false;
        const int error = disk_.Unlink(tempPath_);
        if (error != 0 && error != ENOENT)
            return false;
    }
    if (disk_.Open(tempPath_, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, ownTemp_) != 0 ||
        disk_.StatusOf(ownTemp_.get(), tempStat_) != 0)
        return false;
    tempFound_ = true;
    temp_ = ownTemp_.get();
    if (run != nullptr) {
        run->temp = std::move(ownTemp_);
        run->tempStatus = tempStat_;
    }
    return true;
}

bool Pass::TempFileRefused() {
    struct stat existing {};
    const int found = disk_.Status(tempPath_, existing, false);
    return (found != 0 && found != ENOENT) ||
           (found == 0 && (SameFile(existing, opened_) ||
                           (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode))));
}

bool Pass::CopyPage(text::PageScanner& scanner) {
    text::Line line;
    while (!scanner.AtEnd()) {
        host_.doEvents();
        if (state_.AbortRequested) {
            outcome_.result = PageResult::Aborted;
            return false;
        }
        if (!scanner.NextLine(line))
            break;
        if (lineEnd_.empty())
            lineEnd_ = line.lineEnd == text::LineEnd::LF ? "\n" : "\r\n";
        if (line.opening < 0) {
            if (!scanner.CopyRange(line.start, line.end, *out_) || !out_->Write(lineEnd_))
                return FailCopying(scanner);
            continue;
        }
        if (!RefreshBlock(scanner, line))
            return false;
    }
    if (scanner.Failed())
        return Fail(ProblemKind::ReadFailed);
    return true;
}

bool Pass::RefreshBlock(text::PageScanner& scanner, const text::Line& line) {
    ++blocks_;
    if (line.tagEnd < 0)
        return Fail(ProblemKind::UnmatchedTags);

    const std::int64_t nameStart =
        line.opening + static_cast<std::int64_t>(text::kOpeningKeywordLength);
    const std::int64_t nameLength = line.tagEnd - nameStart;
    std::string includeName;
    if (!scanner.ReadRange(nameStart,
                           static_cast<std::size_t>(std::min<std::int64_t>(nameLength, PATH_MAX)),
                           includeName))
        return Fail(ProblemKind::ReadFailed);
    const std::string includePath = ResolveIncludePath(folder_, includeName);
    host_.includeNamed(pageName_, includePath);

    FileDescriptor includeFd;
    struct stat includeStat {};
    if (nameLength > PATH_MAX || !modGlobal::CheckFileExists(includePath, disk_) ||
        disk_.OpenForReading(includePath, includeFd, includeStat) != 0)
        return Fail(ProblemKind::MissingInclude, includePath);
    // Copying the temporary file into itself would never end.
    if (tempFound_ && SameFile(includeStat, tempStat_))
        return Fail(ProblemKind::MissingInclude, includePath);
    text::IncludeFile include(disk_, includeFd.get());
    bool nested = false;
    if (!include.ContainsClosingTag(nested))
        return Fail(ProblemKind::MissingInclude, includePath);
    if (nested)
        return Fail(ProblemKind::NestedTags, includePath);

    text::Line closingLine = line;
    while (closingLine.closing < 0) {
        if (!scanner.NextLine(closingLine))
            return Fail(scanner.Failed() ? ProblemKind::ReadFailed : ProblemKind::UnmatchedTags);
    }

    if (!scanner.CopyRange(line.start, line.tagEnd + 1, *out_))
        return FailCopying(scanner);
    if (!include.CopyLines(*out_, lineEnd_, nested))
        return FailCopying(scanner, includePath);
    // The bytes that go into the page are the bytes looked at: an include file that was
    // given a closing tag since the check is refused all the same.
    if (nested)
        return Fail(ProblemKind::NestedTags, includePath);
    if (!scanner.CopyRange(closingLine.closing, closingLine.end, *out_) || !out_->Write(lineEnd_))
        return FailCopying(scanner);
    return true;
}

bool Pass::StillThePage() {
    struct stat now {};
    struct stat byName {};
    return disk_.StatusOf(page_.get(), now) == 0 && Unchanged(opened_, now) &&
           disk_.Status(pagePath_, byName) == 0 && Unchanged(opened_, byName);
}

// The backup is a copy of the page as it was read, never written through a link that
// stands under the backup's name.
bool Pass::MakeBackup() {
    const std::string backupPath = BackupPathOf(pagePath_);
    struct stat existing {};
    const int found = disk_.Status(backupPath, existing, false);
    if ((found != 0 && found != ENOENT) || (found == 0 && !S_ISREG(existing.st_mode)))
        return false;
    NewFile backup(disk_);
    return backup.Create(FolderOf(pagePath_)) == 0 &&
           disk_.CopyAll(page_.get(), backup.fd()) == 0 &&
           backup.TakeExtendedAttributesOf(page_.get()) == 0 &&
           backup.TakeOwnerAndModeOf(opened_, true) == 0 && backup.Sync() == 0 &&
           backup.Publish(backupPath) == 0;
}

// The new page is the temporary file's content taken from its descriptor, in a new file
// beside the page (made ahead of need where the run has one). A page that is a symbolic
// link keeps the link; the file it leads to is replaced.
bool Pass::PrepareReplacement() {
    if (ResolveLinkTarget(disk_, pagePath_, target_) != 0)
        return false;
    NewFile& page = newPage_.emplace(disk_);
    FileDescriptor made;
    if (options_.runFiles != nullptr && options_.runFiles->madeFile && target_ == pagePath_)
        made = options_.runFiles->madeFile();
    if (made.valid())
        page.Use(std::move(made), FolderOf(target_));
    else if (page.Create(FolderOf(target_)) != 0)
        return false;
    return disk_.CopyAll(temp_, page.fd()) == 0;
}

// On a thread of the run's flusher: the backup, the new page's attributes and flush, and
// the new page put in place only while the page's name still leads to the page as it was
// read.
bool Pass::PutInPlace() {
    if (backup_ && !MakeBackup())
        return Refuse(ProblemKind::BackupFailed);
    if (newPage_->TakeExtendedAttributesOf(page_.get()) != 0 ||
        newPage_->TakeOwnerAndModeOf(opened_, true) != 0 || newPage_->Sync() != 0)
        return Refuse(ProblemKind::CreateFailed);
    if (!StillThePage())
        return Refuse(ProblemKind::PageChanged);
    if (newPage_->Publish(target_) != 0)
        return Refuse(ProblemKind::CreateFailed);
    return true;
}

bool Pass::Run() {
    host_.pageStage(pageName_, PageStage::Started);
    if (options_.refreshedBytes != nullptr)
        options_.refreshedBytes->clear();
    if (options_.checkOnly) {
        if (!Read(true))
            return false;
        outcome_.wouldChange = blocks_ > 0 && check_->Differs();
        // An only-changed run makes its temporary file only for a page that differs.
        if (options_.onlyChanged && outcome_.wouldChange && TempFileRefused())
            return Fail(ProblemKind::CreateFailed);
        Finish();
        return false;
    }
    if (options_.onlyChanged) {
        // A look without the folder's lock, which guards only the temporary file.
        if (!Read(true))
            return false;
        if (blocks_ == 0 || !check_->Differs()) {
            outcome_.upToDate = blocks_ > 0;
            Finish();
            return false;
        }
    }

    FolderLock lock;
    if (!lock.Take(host_, folder_, disk_, options_.runFiles)) {
        outcome_.result = PageResult::Aborted;
        return false;
    }
    const bool waiting = Refresh();
    // A pass outside a run removes its temporary file before it lets the folder go,
    // whatever became of the page.
    RemoveOwnTempFile();
    return waiting;
}

bool Pass::Refresh() {
    if (!Read(false))
        return false;
    if (blocks_ == 0) {
        Finish();
        return false;
    }
    backup_ = host_.backupOriginals();
    if (backup_)
        host_.pageStage(pageName_, PageStage::BackingUp);
    host_.pageStage(pageName_, PageStage::Saving);
    if (!PrepareReplacement())
        return Fail(ProblemKind::CreateFailed);
    // The new page holds the temporary file's content: the name is free for the next page.
    Finish();
    waiting_ = true;
    return true;
}

void Pass::FlushAndPutInPlace() {
    PutInPlace();
    newPage_.reset();
}

PageOutcome Pass::Complete() {
    if (waiting_) {
        if (outcome_.result == PageResult::Failed)
            ++state_.SkippedCount;
        else
            ++state_.ProcessedCount;
    }
    return outcome_;
}

void Pass::Finish() {
    outcome_.blocks = blocks_;
    outcome_.result = blocks_ > 0 ? PageResult::Replaced : PageResult::NoBlocks;
    // A page that is written is counted once it is in place.
    if (blocks_ > 0 && !newPage_.has_value())
        ++state_.ProcessedCount;
    if (blocks_ == 0)
        ++state_.SkippedCount;
}

// Only a pass outside a run has a temporary file of its own: a run's serves its next page
// and goes at the run's end.
void Pass::RemoveOwnTempFile() {
    if (!ownTemp_.valid())
        return;
    ownTemp_.close();
    outcome_.tempNotDeleted = !RemoveTempFile(disk_, tempPath_, tempStat_);
}

PagePass::PagePass(PassHost& host, const std::string& pageName, const PassOptions& options)
    : pass_(std::make_unique<Pass>(host, options.disk != nullptr ? *options.disk : RealDisk(),
                                   pageName, options)),
      host_(host), pageName_(pageName) {}

PagePass::~PagePass() = default;

bool PagePass::Run() {
    return pass_->Run();
}

void PagePass::FlushAndPutInPlace() {
    pass_->FlushAndPutInPlace();
}

PageOutcome PagePass::Complete() {
    const PageOutcome outcome = pass_->Complete();
    // The page's files are closed and the folder's lock is free by now.
    pass_.reset();
    if (outcome.problem)
        ReportProblem(host_, *outcome.problem);
    if (outcome.tempNotDeleted)
        ReportProblem(host_, Problem{ProblemKind::TempNotDeleted, {}, host_.pathDisplay()});
    if (outcome.result != PageResult::Aborted)
        host_.pageFinished(pageName_, outcome);
    return outcome;
}

PageOutcome ProcessFile(PassHost& host, const std::string& pageName, const PassOptions& options) {
    PagePass pass(host, pageName, options);
    if (pass.Run())
        pass.FlushAndPutInPlace();
    return pass.Complete();
}

bool DeleteTempFile(PassHost& host, const std::string& tempPath, Disk& disk,
                    const struct stat& ours) {
    if (RemoveTempFile(disk, tempPath, ours))
        return true;
    ReportProblem(host, Problem{ProblemKind::TempNotDeleted, {}, FolderOf(tempPath) + "/"});
    return false;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0 && !own_.valid())
        (void)disk_->Unlock(fd_);
}

int FolderLock::Open(const std::string& folder, Disk& disk, RunFiles* runFiles) {
    disk_ = &disk;
    if (runFiles != nullptr && runFiles->folder.valid())
        return runFiles->folder.get();
    FileDescriptor fd;
    if (disk.Open(folder, O_RDONLY | O_DIRECTORY, 0, fd) != 0)
        return -1;
    if (runFiles == nullptr) {
        own_ = std::move(fd);
        return own_.get();
    }
    runFiles->folder = std::move(fd);
    return runFiles->folder.get();
}

bool FolderLock::Take(PassHost& host, const std::string& folder, Disk& disk, RunFiles* runFiles) {
    const int fd = Open(folder, disk, runFiles);
    if (fd < 0)
        return true;
    bool told = false;
    int error;
    while ((error = disk.Lock(fd)) == EWOULDBLOCK) {
        if (!told)
            host.waitingForFolder();
        told = true;
        host.doEvents();
        if (host.runState().AbortRequested)
            return false;
        ::usleep(10 * 1000);
    }
    if (error == 0)
        fd_ = fd;
    return true;
}

bool FolderLock::TryTake(const std::string& folder, Disk& disk) {
    const int fd = Open(folder, disk, nullptr);
    if (fd < 0)
        return true;
    const int error = disk.Lock(fd);
    if (error == 0)
        fd_ = fd;
    return error != EWOULDBLOCK;
}

std::string BackupPathOf(const std::string& pagePath) {
    const std::size_t slash = pagePath.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = pagePath.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return pagePath + ".bak";
    return pagePath.substr(0, dot + 1) + "bak";
}

std::string ResolveIncludePath(const std::string& folder, std::string includeName) {
    for (char& c : includeName)
        if (c == '\\')
            c = '/';
    if (!includeName.empty() && includeName.front() == '/')
        return includeName;
    return folder + includeName;
}
