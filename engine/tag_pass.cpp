#include "tag_pass.h"

#include "cshfileop.h"
#include "mod_global.h"
#include "posix_file.h"
#include "text_stream.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Comparing: the refreshed bytes are compared with the page's and, when the caller wants
// them, also kept.
class CheckSink : public text::OutputSink {
  public:
    CheckSink(int pageFd, bool readAhead, std::string* keep)
        : compare_(pageFd, readAhead), keep_(keep) {}
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

// Where the refreshed page goes: the temporary file, or (comparing) a comparison with the
// page itself.
class PassOutput {
  public:
    explicit PassOutput(int tempFd) { file_.emplace(tempFd); }
    PassOutput(int pageFd, bool readAhead, std::string* keep) {
        check_.emplace(pageFd, readAhead, keep);
    }
    text::OutputSink& sink() { return file_ ? static_cast<text::OutputSink&>(*file_) : *check_; }
    bool Flush() { return !file_ || file_->Flush(); }
    bool Differs() { return check_ && check_->Differs(); }

  private:
    std::optional<text::FileSink> file_;
    std::optional<CheckSink> check_;
};

// The work of one page; each failure reports itself and returns the outcome.
class Pass {
  public:
    Pass(PassHost& host, const std::string& pageName, const PassOptions& options)
        : host_(host), state_(host.runState()), pageName_(pageName), options_(options),
          folder_(host.pathDisplay()), pagePath_(folder_ + pageName),
          tempPath_(folder_ + kTempFileName) {}

    PageOutcome Run();

  private:
    // Counts the page, removes the temporary file and adds the page's entry.
    PageOutcome Finish();
    // Forgets the comparison of an only-changed run, so the page is read anew and written.
    void StartOver();
    bool OpenFiles();
    // Copies the page into the output; false when it stopped (abort or failure).
    bool CopyPage(text::PageScanner& scanner);
    bool RefreshBlock(text::PageScanner& scanner, const text::Line& line);
    bool PutInPlace();

    bool Fail(const std::string& message, const std::string& logLine, const std::string& reason);
    bool FailReading() {
        const std::string message = "Could not read file " + pageName_;
        return Fail(message, " -" + message, "read error");
    }
    bool FailCreating() {
        const std::string message = "Could not create replaced file " + pageName_;
        return Fail(message, " -" + message, "create error");
    }
    bool FailMissing(const std::string& includePath) {
        const std::string message = "Could not locate replacement file " + includePath;
        return Fail(message, " -" + message + " in " + pageName_, "missing repl. file");
    }
    bool FailUnmatched() {
        const std::string message = "Unmatched tags found in " + pageName_;
        return Fail(message, " -" + message, "unmatched tags");
    }
    // A failed write is the temporary file's fault; a failed read is the page's, or the
    // include file's when the page was read well.
    bool FailCopying(const text::PageScanner& scanner, const std::string& includePath = {}) {
        if (output_->sink().Failed())
            return comparing_ ? FailReading() : FailCreating();
        if (scanner.Failed() || includePath.empty())
            return FailReading();
        return FailMissing(includePath);
    }

    PassHost& host_;
    RunState& state_;
    const std::string pageName_;
    const PassOptions options_;
    const std::string folder_;
    const std::string pagePath_;
    const std::string tempPath_;

    // Comparing the refreshed page with the page instead of writing it: checking, or the
    // first look of an only-changed run.
    bool comparing_ = false;
    posix::FileDescriptor page_;
    posix::FileDescriptor temp_;
    struct stat tempStat_ {};
    // An only-changed comparison found a temporary file left in the folder (tempStat_).
    bool tempFound_ = false;
    std::optional<PassOutput> output_;
    std::string lineEnd_;
    int blocks_ = 0;
    PageOutcome outcome_;
};

bool Pass::Fail(const std::string& message, const std::string& logLine, const std::string& reason) {
    ReportProblem(host_, message, logLine);
    host_.addProcessed(">" + pageName_ + "," + reason);
    ++state_.SkippedCount;
    outcome_.result = PageResult::Failed;
    outcome_.blocks = blocks_;
    outcome_.problems = 1;
    return false;
}

bool Pass::OpenFiles() {
    struct stat pageStat {};
    page_ = posix::OpenRegularForReading(pagePath_, &pageStat);
    if (!page_.valid())
        return FailReading();
    if (comparing_) {
        // A page or include that is the temporary file is refused when writing; the
        // comparison refuses them too, so an only-changed run judges a page as a refresh.
        if (!options_.checkOnly) {
            tempFound_ = ::lstat(tempPath_.c_str(), &tempStat_) == 0;
            if (tempFound_ && SameFile(tempStat_, pageStat))
                return FailCreating();
        }
        // Checking keeps the reads it always made; an only-changed run, which compares
        // every page of a site, reads ahead.
        if (options_.checkOnly)
            output_.emplace(page_.get(), false, options_.refreshedBytes);
        else
            output_.emplace(page_.get(), true, nullptr);
        return true;
    }
    // The temporary file is made anew rather than emptied, so that a link under its name
    // can never truncate another file; only a page that is itself the temporary file would
    // be lost that way, and that one is refused.
    struct stat existing {};
    if (::lstat(tempPath_.c_str(), &existing) == 0) {
        if (SameFile(existing, pageStat))
            return FailCreating();
        if (::unlink(tempPath_.c_str()) != 0 && errno != ENOENT)
            return FailCreating();
    }
    temp_ = posix::FileDescriptor(
        ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!temp_.valid() || ::fstat(temp_.get(), &tempStat_) != 0)
        return FailCreating();
    output_.emplace(temp_.get());
    return true;
}

bool Pass::CopyPage(text::PageScanner& scanner) {
    text::OutputSink& out = output_->sink();
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
            if (!scanner.CopyRange(line.start, line.end, out) || !out.Write(lineEnd_))
                return FailCopying(scanner);
            continue;
        }
        if (!RefreshBlock(scanner, line))
            return false;
    }
    if (scanner.Failed())
        return FailReading();
    if (!output_->Flush() || (temp_.valid() && !temp_.close()))
        return FailCreating();
    return true;
}

bool Pass::RefreshBlock(text::PageScanner& scanner, const text::Line& line) {
    ++blocks_;
    if (line.tagEnd < 0)
        return FailUnmatched();

    const std::int64_t nameStart =
        line.opening + static_cast<std::int64_t>(text::kOpeningKeywordLength);
    const std::int64_t nameLength = line.tagEnd - nameStart;
    std::string includeName;
    if (!scanner.ReadRange(nameStart,
                           static_cast<std::size_t>(std::min<std::int64_t>(nameLength, PATH_MAX)),
                           includeName))
        return FailReading();
    const std::string includePath = ResolveIncludePath(folder_, includeName);

    if (nameLength > PATH_MAX || !modGlobal::CheckFileExists(includePath))
        return FailMissing(includePath);
    struct stat includeStat {};
    const posix::FileDescriptor includeFd = posix::OpenRegularForReading(includePath, &includeStat);
    if (!includeFd.valid())
        return FailMissing(includePath);
    // Copying the temporary file into itself would never end.
    if ((temp_.valid() || tempFound_) && SameFile(includeStat, tempStat_))
        return FailMissing(includePath);
    text::IncludeFile include(includeFd.get());
    bool nested = false;
    if (!include.ContainsClosingTag(nested))
        return FailMissing(includePath);
    if (nested) {
        const std::string message = "Nested tags found in " + includePath;
        return Fail(message, " -" + message + " in " + pageName_, "nested tags");
    }

    text::Line closingLine = line;
    while (closingLine.closing < 0) {
        if (!scanner.NextLine(closingLine))
            return scanner.Failed() ? FailReading() : FailUnmatched();
    }

    text::OutputSink& out = output_->sink();
    if (!scanner.CopyRange(line.start, line.tagEnd + 1, out))
        return FailCopying(scanner);
    if (!include.CopyLines(out, lineEnd_))
        return FailCopying(scanner, includePath);
    if (!scanner.CopyRange(closingLine.closing, closingLine.end, out) || !out.Write(lineEnd_))
        return FailCopying(scanner);
    return true;
}

bool Pass::PutInPlace() {
    CSHFileOp fileOp;
    if (host_.backupOriginals()) {
        host_.setStatus("processing " + pageName_ + " (backing up)...");
        fileOp.ClearSourceFiles();
        fileOp.AddSourceFile(pagePath_);
        fileOp.ClearDestFiles();
        fileOp.AddDestFile(BackupPathOf(pagePath_));
        if (!fileOp.CopyFiles()) {
            const std::string message = "Could not backup file " + pageName_;
            return Fail(message, " -" + message, "backup err");
        }
    }
    host_.setStatus("processing " + pageName_ + " (saving new)...");
    fileOp.ClearSourceFiles();
    fileOp.AddSourceFile(tempPath_);
    fileOp.ClearDestFiles();
    fileOp.AddDestFile(pagePath_);
    if (!fileOp.CopyFiles())
        return FailCreating();
    return true;
}

PageOutcome Pass::Run() {
    host_.setStatus("processing " + pageName_ + "...");
    comparing_ = options_.checkOnly || options_.onlyChanged;
    if (options_.refreshedBytes != nullptr)
        options_.refreshedBytes->clear();
    if (options_.onlyChanged && !options_.checkOnly) {
        // A look without the folder's lock, which guards only the temporary file.
        if (!OpenFiles())
            return outcome_;
        text::PageScanner scanner(page_.get());
        if (!CopyPage(scanner))
            return outcome_;
        if (blocks_ == 0 || !output_->Differs()) {
            outcome_.upToDate = blocks_ > 0;
            return Finish();
        }
        StartOver();
    }

    posix::FolderLock lock;
    if (!comparing_ && !WaitForFolder(host_, folder_, lock)) {
        outcome_.result = PageResult::Aborted;
        return outcome_;
    }
    if (!OpenFiles())
        return outcome_;
    text::PageScanner scanner(page_.get());
    if (!CopyPage(scanner))
        return outcome_;

    if (blocks_ > 0) {
        if (comparing_)
            outcome_.wouldChange = output_->Differs();
        else if (!PutInPlace())
            return outcome_;
    }
    return Finish();
}

PageOutcome Pass::Finish() {
    outcome_.blocks = blocks_;
    if (blocks_ > 0) {
        ++state_.ProcessedCount;
        outcome_.result = PageResult::Replaced;
    } else {
        ++state_.SkippedCount;
        outcome_.result = PageResult::NoBlocks;
    }
    // Only a page that was written had a temporary file.
    if (!comparing_ && !DeleteTempFile(host_, tempPath_))
        ++outcome_.problems;
    host_.addProcessed(pageName_ + "," + std::to_string(blocks_));
    host_.setStatus("");
    return outcome_;
}

void Pass::StartOver() {
    output_.reset();
    page_ = posix::FileDescriptor();
    tempFound_ = false;
    lineEnd_.clear();
    blocks_ = 0;
    comparing_ = false;
}

} // namespace

bool WaitForFolder(PassHost& host, const std::string& folder, posix::FolderLock& lock) {
    while (!lock.TryLock(folder)) {
        host.doEvents();
        if (host.runState().AbortRequested)
            return false;
        ::usleep(10 * 1000);
    }
    return true;
}

PageOutcome ProcessFile(PassHost& host, const std::string& pageName, const PassOptions& options) {
    return Pass(host, pageName, options).Run();
}

bool DeleteTempFile(PassHost& host, const std::string& tempPath) {
    if (!modGlobal::CheckFileExists(tempPath))
        return true;
    CSHFileOp fileOp;
    fileOp.AddSourceFile(tempPath);
    fileOp.ClearDestFiles();
    if (fileOp.DeleteFiles())
        return true;
    ReportProblem(host, "Could not delete temporary file", " -Could not delete temporary file");
    return false;
}

void ReportProblem(PassHost& host, const std::string& message, const std::string& logLine) {
    if (host.errorMessagesOff() && modGlobal::AppendLogLine(logLine))
        return;
    host.showProblem(message);
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
