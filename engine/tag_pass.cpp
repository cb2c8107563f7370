#include "tag_pass.h"

#include "mod_global.h"
#include "owners_rights.h"
#include "text_stream.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>

namespace {

// Comparing: the refreshed bytes are compared with the page's and, where they are to be
// shown, also kept in a file of their own.
class CheckSink : public text::OutputSink {
  public:
    CheckSink(Disk& disk, int pageFd, int keepFd) : compare_(disk, pageFd) {
        if (keepFd >= 0)
            keep_.emplace(disk, keepFd);
    }
    bool Write(const char* data, std::size_t size) override {
        if (keep_)
            (void)keep_->Write(data, size); // a copy that cannot be kept only goes unshown
        return compare_.Write(data, size);
    }
    bool Failed() const override { return compare_.Failed(); }
    int Error() const override { return compare_.Error(); }
    bool Differs() { return compare_.Differs(); }
    bool Kept() { return keep_ && keep_->Flush(); }

  private:
    text::CompareSink compare_;
    std::optional<text::FileSink> keep_;
};

// The folder for scratch files that are no part of any site.
std::string ScratchFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] == '/' ? folder : "/tmp";
}

// Two names of one file, whatever "." and ".." they take on the way.
std::string Normal(const std::string& path) {
    return std::filesystem::path(path).lexically_normal().string();
}

} // namespace

// The work of one page. Each failure notes its problem in the outcome and returns false.
class Pass {
  public:
    Pass(const RunOptions& options, const std::string& pages, Disk& disk, RunEvents& events,
         PassRun& run, const std::string& pageName)
        : options_(options), disk_(disk), events_(events), run_(run), pageName_(pageName),
          pagePath_(pages + pageName), newPage_(disk), backup_(disk) {
        outcome_.page = pageName;
    }

    bool Identify(PageIdentity& identity);
    bool Run();
    void FlushAndPutInPlace();
    PageOutcome& outcome() { return outcome_; }

  private:
    void Start() {
        if (!started_)
            events_.pageStage(pageName_, PageStage::Started);
        started_ = true;
    }
    // Reads the open page through the tag pass into out. False when it stopped (abort or
    // problem).
    bool Read(text::OutputSink& out);
    // Reads the page into a comparison with itself (keeping the refreshed bytes, where they
    // are to be shown), or into its new file.
    bool Compare();
    bool Write();
    bool CopyPage(text::PageScanner& scanner, text::OutputSink& out);
    bool RefreshBlock(text::PageScanner& scanner, const text::Line& line, text::OutputSink& out);
    int OpenInclude(const std::string& path, FileDescriptor& fd, struct stat& status);
    // The page's name, and the name its links lead to, still lead to the file that was
    // opened, unchanged since.
    bool StillThePage();
    int BackupRefusal(const std::string& backupPath);
    int MakeBackup();

    bool Fail(ProblemKind kind, int error = 0, const std::string& path = {});
    // A failure of a block, which names the line where the block starts.
    bool FailBlock(ProblemKind kind, int error = 0, const std::string& path = {}) {
        Fail(kind, error, path);
        outcome_.problem->line = blockLine_;
        return false;
    }
    // A failed write is the new page's fault (comparing, a failed read of the page's); a
    // failed read is the page's.
    bool FailCopying(const text::PageScanner& scanner, const text::OutputSink& out) {
        if (out.Failed())
            return Fail(comparing_ ? ProblemKind::ReadFailed : ProblemKind::CreateFailed,
                        out.Error());
        return Fail(ProblemKind::ReadFailed, scanner.Error());
    }
    // What a real run would refuse before it writes the page: a check comes to its verdict.
    bool Refused();
    void Finish();

    const RunOptions& options_;
    Disk& disk_;
    RunEvents& events_;
    PassRun& run_;
    const std::string pageName_;
    const std::string pagePath_;

    bool started_ = false;
    bool comparing_ = false;
    FileDescriptor page_;
    struct stat opened_ {};
    std::string target_; // the name that the page's links lead to
    int blocks_ = 0;
    std::int64_t lineNumber_ = 0;
    std::int64_t blockLine_ = 0;
    std::string lineEnd_;
    bool differs_ = false;
    FileDescriptor refreshed_; // checking, to be shown: the refreshed bytes
    // The new versions of the page and of its backup, waiting to be flushed and put in
    // place; the page's under the name its links lead to.
    NewFile newPage_;
    NewFile backup_;
    bool backingUp_ = false;
    PageOutcome outcome_;
};

bool Pass::Fail(ProblemKind kind, int error, const std::string& path) {
    outcome_.result = PageResult::Failed;
    outcome_.blocks = blocks_;
    outcome_.problem = Problem{kind, pageName_, path, error, 0};
    return false;
}

bool Pass::Read(text::OutputSink& out) {
    blocks_ = 0;
    lineNumber_ = 0;
    lineEnd_.clear();
    text::PageScanner scanner(disk_, page_.get());
    if (!CopyPage(scanner, out))
        return false;
    if (!StillThePage())
        return Fail(ProblemKind::PageChanged);
    return true;
}

bool Pass::Compare() {
    comparing_ = true;
    if (const int error = disk_.OpenForReading(pagePath_, page_, opened_))
        return Fail(ProblemKind::ReadFailed, error);
    target_ = pagePath_;
    // The refreshed bytes to be shown are kept in a nameless file beside the page, on the
    // disk that has room for the page, or else in the system's scratch folder.
    if (options_.keepRefreshed && disk_.OpenNameless(FolderOf(pagePath_), refreshed_) != 0)
        (void)disk_.OpenNameless(ScratchFolder(), refreshed_);
    CheckSink check(disk_, page_.get(), refreshed_.get());
    if (!Read(check))
        return false;
    differs_ = check.Differs();
    if (!differs_ || !check.Kept())
        refreshed_.close();
    return true;
}

// The new version goes straight into a new, nameless file beside the file that the page's
// links lead to.
bool Pass::Write() {
    comparing_ = false;
    if (const int error = ResolveLinkTarget(disk_, pagePath_, target_))
        return Fail(ProblemKind::CreateFailed, error);
    if (const int error = disk_.OpenForReading(pagePath_, page_, opened_))
        return Fail(ProblemKind::ReadFailed, error);
    if (const int error = run_.MakeNewFile(FolderOf(target_), newPage_))
        return Fail(ProblemKind::CreateFailed, error);
    text::FileSink file(disk_, newPage_.fd());
    if (!Read(file))
        return false;
    if (!file.Flush())
        return Fail(ProblemKind::CreateFailed, file.Error());
    return true;
}

bool Pass::CopyPage(text::PageScanner& scanner, text::OutputSink& out) {
    text::Line line;
    while (!scanner.AtEnd()) {
        if (events_.doEvents()) {
            outcome_.result = PageResult::Aborted;
            return false;
        }
        if (!scanner.NextLine(line))
            break;
        ++lineNumber_;
        if (lineEnd_.empty())
            lineEnd_ = line.lineEnd == text::LineEnd::LF ? "\n" : "\r\n";
        if (line.opening < 0) {
            if (!scanner.CopyRange(line.start, line.end, out) || !out.Write(lineEnd_))
                return FailCopying(scanner, out);
            continue;
        }
        if (!RefreshBlock(scanner, line, out))
            return false;
    }
    if (scanner.Failed())
        return Fail(ProblemKind::ReadFailed, scanner.Error());
    return true;
}

bool Pass::RefreshBlock(text::PageScanner& scanner, const text::Line& line, text::OutputSink& out) {
    ++blocks_;
    blockLine_ = lineNumber_;
    if (line.tagEnd < 0)
        return FailBlock(ProblemKind::UnmatchedTags);

    const std::int64_t nameStart =
        line.opening + static_cast<std::int64_t>(text::kOpeningKeywordLength);
    const std::int64_t nameLength = line.tagEnd - nameStart;
    std::string includeName;
    if (!scanner.ReadRange(nameStart,
                           static_cast<std::size_t>(std::min<std::int64_t>(nameLength, PATH_MAX)),
                           includeName))
        return Fail(ProblemKind::ReadFailed, scanner.Error());
    const std::string includePath = ResolveIncludePath(options_.folder, includeName);
    events_.includeNamed(pageName_, includePath);

    FileDescriptor includeFd;
    struct stat includeStat {};
    if (nameLength > PATH_MAX)
        return FailBlock(ProblemKind::MissingInclude, ENAMETOOLONG, includePath);
    if (const int error = OpenInclude(includePath, includeFd, includeStat))
        return FailBlock(ProblemKind::MissingInclude, error, includePath);
    text::IncludeFile include(disk_, includeFd.get());
    bool nested = false;
    if (!include.ContainsClosingTag(nested))
        return FailBlock(ProblemKind::MissingInclude, include.Error(), includePath);
    if (nested)
        return FailBlock(ProblemKind::NestedTags, 0, includePath);

    // The block ends at the first closing tag after the opening tag's ">", on its own line
    // or below.
    text::Line closingLine = line;
    std::int64_t closing = line.closingAfterTag;
    while (closing < 0) {
        if (!scanner.NextLine(closingLine)) {
            if (scanner.Failed())
                return Fail(ProblemKind::ReadFailed, scanner.Error());
            return FailBlock(ProblemKind::UnmatchedTags);
        }
        ++lineNumber_;
        closing = closingLine.closing;
    }

    if (!scanner.CopyRange(line.start, line.tagEnd + 1, out))
        return FailCopying(scanner, out);
    if (!include.CopyLines(out, lineEnd_, nested))
        return out.Failed() ? FailCopying(scanner, out)
                            : FailBlock(ProblemKind::MissingInclude, include.Error(), includePath);
    // The bytes that go into the page are the bytes looked at: an include file that was
    // given a closing tag since the check is refused all the same.
    if (nested)
        return FailBlock(ProblemKind::NestedTags, 0, includePath);
    if (!scanner.CopyRange(closing, closingLine.end, out) || !out.Write(lineEnd_))
        return FailCopying(scanner, out);
    return true;
}

// With the rights of the page's owner: a run as root copies into a page only what its owner
// could read.
int Pass::OpenInclude(const std::string& path, FileDescriptor& fd, struct stat& status) {
    const OwnersRights owner(opened_);
    if (!owner.taken())
        return EPERM;
    return disk_.OpenForReading(path, fd, status);
}

bool Pass::StillThePage() {
    struct stat now {};
    struct stat byName {};
    struct stat byTarget {};
    return disk_.StatusOf(page_.get(), now) == 0 && Unchanged(opened_, now) &&
           disk_.Status(pagePath_, byName) == 0 && Unchanged(opened_, byName) &&
           (target_ == pagePath_ ||
            (disk_.Status(target_, byTarget, false) == 0 && Unchanged(opened_, byTarget)));
}

// The backup is a copy of the page as it was read, never written through a link that
// stands under the backup's name.
// Why no backup may be written at backupPath: it is the page's own name (-1: no reason the
// system gives), a folder (EISDIR), a link or anything but an ordinary file (EEXIST), or
// what looking at it failed with; 0 when one may.
int Pass::BackupRefusal(const std::string& backupPath) {
    if (Normal(backupPath) == Normal(pagePath_))
        return -1;
    struct stat existing {};
    if (const int found = disk_.Status(backupPath, existing, false))
        return found == ENOENT ? 0 : found;
    return S_ISREG(existing.st_mode) ? 0 : S_ISDIR(existing.st_mode) ? EISDIR : EEXIST;
}

int Pass::MakeBackup() {
    const std::string backupPath = BackupPathOf(pagePath_);
    if (const int refusal = BackupRefusal(backupPath))
        return refusal;
    int error = disk_.CopyAll(page_.get(), backup_.fd());
    if (error == 0)
        error = backup_.TakeExtendedAttributesOf(page_.get());
    if (error == 0)
        error = backup_.TakeOwnerAndModeOf(opened_, true);
    if (error == 0)
        error = backup_.Sync();
    return error != 0 ? error : backup_.Publish(backupPath);
}

bool Pass::Refused() {
    int error = ResolveLinkTarget(disk_, pagePath_, target_);
    if (error != 0) {
        Fail(ProblemKind::CreateFailed, error);
        return true;
    }
    if (options_.backup && (error = BackupRefusal(BackupPathOf(pagePath_))) != 0)
        Fail(ProblemKind::BackupFailed, std::max(error, 0));
    return error != 0;
}

bool Pass::Identify(PageIdentity& identity) {
    Start();
    struct stat status {};
    const int found = disk_.Status(pagePath_, status);
    if (found != 0 && found != ENOENT)
        return Fail(ProblemKind::ReadFailed, found);
    identity.exists = found == 0;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    std::string target;
    if (const int error = ResolveLinkTarget(disk_, pagePath_, target))
        return Fail(ProblemKind::CreateFailed, error);
    identity.path = Normal(pagePath_);
    identity.target = Normal(target);
    if (options_.backup)
        identity.backup = Normal(BackupPathOf(pagePath_));
    return true;
}

bool Pass::Run() {
    Start();
    if (options_.checkOnly || options_.onlyChanged) {
        if (!Compare())
            return false;
        if (options_.checkOnly && blocks_ > 0 && (differs_ || !options_.onlyChanged) && Refused())
            return false;
        if (options_.checkOnly || blocks_ == 0 || !differs_) {
            outcome_.wouldChange = options_.checkOnly && blocks_ > 0 && differs_;
            outcome_.upToDate = !options_.checkOnly && blocks_ > 0;
            outcome_.refreshed = outcome_.wouldChange ? refreshed_.get() : -1;
            Finish();
            return false;
        }
        page_.close();
    }

    if (!run_.HoldFolder()) {
        outcome_.result = PageResult::Aborted;
        return false;
    }
    if (!Write())
        return false;
    if (blocks_ == 0) {
        Finish();
        return false;
    }
    backingUp_ = options_.backup;
    if (backingUp_) {
        events_.pageStage(pageName_, PageStage::BackingUp);
        // A page whose backup name is its own name would be replaced by its own backup; the
        // backup's name is looked at again right before it is written.
        const std::string backupPath = BackupPathOf(pagePath_);
        if (const int refusal = BackupRefusal(backupPath))
            return Fail(ProblemKind::BackupFailed, std::max(refusal, 0));
        if (const int error = run_.MakeNewFile(FolderOf(backupPath), backup_))
            return Fail(ProblemKind::BackupFailed, error);
    }
    events_.pageStage(pageName_, PageStage::Saving);
    Finish();
    return true;
}

// On a thread of the run's flusher: the backup, the new page's attributes and flush, and
// the new page put in place only while the page's name still leads to the page as it was
// read.
void Pass::FlushAndPutInPlace() {
    int error = backingUp_ ? MakeBackup() : 0;
    if (error != 0)
        Fail(ProblemKind::BackupFailed, std::max(error, 0));
    else if ((error = newPage_.TakeExtendedAttributesOf(page_.get())) != 0 ||
             (error = newPage_.TakeOwnerAndModeOf(opened_, true)) != 0 ||
             (error = newPage_.Sync()) != 0)
        Fail(ProblemKind::CreateFailed, error);
    else if (!StillThePage())
        Fail(ProblemKind::PageChanged);
    else if ((error = newPage_.Publish(target_)) != 0)
        Fail(ProblemKind::CreateFailed, error);
    newPage_.Discard();
    backup_.Discard();
    page_.close();
}

void Pass::Finish() {
    outcome_.blocks = blocks_;
    outcome_.result = blocks_ > 0 ? PageResult::Replaced : PageResult::NoBlocks;
}

PagePass::PagePass(const RunOptions& options, const std::string& pages, Disk& disk,
                   RunEvents& events, PassRun& run, const std::string& pageName)
    : pass_(std::make_unique<Pass>(options, pages, disk, events, run, pageName)) {}

PagePass::~PagePass() = default;

bool PagePass::Identify(PageIdentity& identity) {
    return pass_->Identify(identity);
}

bool PagePass::Run() {
    return pass_->Run();
}

void PagePass::FlushAndPutInPlace() {
    pass_->FlushAndPutInPlace();
}

PageOutcome& PagePass::outcome() {
    return pass_->outcome();
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
