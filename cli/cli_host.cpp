#include "cli_host.h"

#include "posix_file.h"
#include "unified_diff.h"

#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t abortSignalled = 0;

void OnAbortSignal(int) {
    abortSignalled = 1;
}

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

const std::string kStatusPrefix = "processing ";

// The whole content of an ordinary file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    const posix::FileDescriptor fd = posix::OpenRegularForReading(path);
    if (!fd.valid())
        return false;
    bytes.clear();
    char chunk[64 * 1024];
    for (;;) {
        const ssize_t got =
            posix::ReadAt(fd.get(), chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace

CliHost::CliHost(const Options& options)
    : options_(options), terminal_(::isatty(STDERR_FILENO) == 1) {}

CliHost::~CliHost() {
    ClearProgress();
}

void CliHost::InstallAbortSignals() {
    struct sigaction action {};
    action.sa_handler = OnAbortSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool CliHost::AbortSignalled() {
    return abortSignalled != 0;
}

void CliHost::SetFolder(const std::string& folder, const std::string& prefix) {
    folder_ = folder;
    prefix_ = prefix;
}

void CliHost::setStatus(const std::string& text) {
    static const std::string suffix = "...";
    // Every text names the page right after "processing ".
    const bool namesPage = text.compare(0, kStatusPrefix.size(), kStatusPrefix) == 0;
    if (options_.detail == Detail::Verbose && namesPage)
        PrintLine(kStatusPrefix + prefix_ + text.substr(kStatusPrefix.size()));
    // The pass announces each page with "processing <page>..." before anything else.
    if (namesPage && text.size() > kStatusPrefix.size() + suffix.size() &&
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        text.find(" (", kStatusPrefix.size()) == std::string::npos) {
        ++pagesStarted_;
        currentPage_ =
            text.substr(kStatusPrefix.size(), text.size() - kStatusPrefix.size() - suffix.size());
        DrawProgress(false);
    }
}

void CliHost::addProcessed(const std::string& entry) {
    if (runOver_ || options_.checking || options_.detail == Detail::Quiet)
        return;
    if (!entry.empty() && entry.front() == '>')
        PrintLine(">" + prefix_ + entry.substr(1));
    else
        PrintLine(prefix_ + entry);
}

void CliHost::doEvents() {
    if (abortSignalled)
        state_.AbortRequested = true;
}

void CliHost::showProblem(const std::string& message) {
    ClearProgress();
    std::fflush(stdout);
    const std::string text = NamedInFull(message);
    std::fputs(text.c_str(), stderr);
    std::fputc('\n', stderr);
}

void CliHost::runEnded() {
    ClearProgress();
    runOver_ = true;
}

void CliHost::pageFinished(const std::string& pageName, const PageOutcome& outcome) {
    if (options_.diff && outcome.wouldChange)
        PrintDiff(pageName);
}

void CliHost::PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

void CliHost::PrintDiff(const std::string& pageName) {
    std::string before;
    if (!ReadWholeFile(folder_ + pageName, before)) {
        const std::string message = "Could not read file " + pageName;
        ReportProblem(*this, message, " -" + message);
        ++diffProblems_;
        return;
    }
    const std::string path = prefix_ + pageName;
    const std::string diff = UnifiedDiff(before, refreshed_, "a/" + path, "b/" + path);
    std::fwrite(diff.data(), 1, diff.size(), stdout);
}

std::string CliHost::NamedInFull(const std::string& message) const {
    if (prefix_.empty())
        return message;
    static const std::string kTempFileMessage = "Could not delete temporary file";
    if (message == kTempFileMessage)
        return message + " " + prefix_ + kTempFileName;
    // The texts that end with the page's bare name.
    for (const char* start : {"Could not read file ", "Could not create replaced file ",
                              "Could not backup file ", "Unmatched tags found in "}) {
        if (message == start + currentPage_)
            return start + prefix_ + currentPage_;
    }
    return message;
}

void CliHost::DrawProgress(bool force) {
    if (!terminal_ || options_.detail == Detail::Quiet)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDrawn_ < kProgressInterval)
        return;
    lastDrawn_ = now;
    std::fprintf(stderr, "\r\033[K%d/%d %s%s", pagesStarted_ - 1, options_.pageCount,
                 prefix_.c_str(), currentPage_.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void CliHost::ClearProgress() {
    if (!progressShown_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
}
