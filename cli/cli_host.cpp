#include "cli_host.h"

#include "disk.h"
#include "mod_global.h"
#include "unified_diff.h"
#include "wording.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t abortSignalled = 0;

void OnAbortSignal(int) {
    abortSignalled = 1;
}

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

} // namespace

std::string Printable(const std::string& name) {
    return modGlobal::CEscaped(name);
}

std::string ProblemLine(const Problem& problem, const std::string& prefix) {
    Problem named = problem;
    named.path = Printable(problem.path);
    std::string where;
    if (!problem.page.empty()) {
        named.page = Printable(prefix + problem.page);
        where = named.page + (problem.line > 0 ? ":" + std::to_string(problem.line) : "") + ": ";
    }
    const std::string reason =
        problem.error > 0 ? ": " + std::string(std::strerror(problem.error)) : "";
    return "reririduruv-cli: " + where + ProblemMessage(named) + reason;
}

namespace {} // namespace

CliHost::CliHost(const Options& options)
    : options_(options), terminal_(::isatty(STDERR_FILENO) == 1) {}

CliHost::~CliHost() {
    ClearProgress();
}

void CliHost::InstallSignals() {
    struct sigaction action {};
    action.sa_handler = OnAbortSignal;
    sigemptyset(&action.sa_mask);
    // Not restarted: a signal also ends a wait in a system call.
    action.sa_flags = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    // Past a file-size limit a write should fail and be reported, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool CliHost::AbortSignalled() {
    return abortSignalled != 0;
}

void CliHost::SetFolder(const std::string& folder, const std::string& prefix) {
    folder_ = folder;
    prefix_ = prefix;
}

bool CliHost::doEvents() {
    return abortSignalled != 0 || outputLost_;
}

void CliHost::Report(const Problem& problem) {
    ReportProblem(*this, options_.logToFile, problem, RealDisk());
}

void CliHost::pageStage(const std::string& page, PageStage stage) {
    if (options_.detail == Detail::Verbose)
        PrintLine(StatusText(Printable(prefix_ + page), stage));
    if (stage == PageStage::Started) {
        ++pagesStarted_;
        currentPage_ = Printable(prefix_ + page);
        DrawProgress();
    }
}

void CliHost::waitingForFolder() {
    if (toldWaiting_)
        return;
    toldWaiting_ = true;
    ClearProgress();
    std::fprintf(stderr, "reririduruv-cli: %s\n", WaitingText(Printable(folder_)).c_str());
}

void CliHost::showProblem(const Problem& problem) {
    ClearProgress();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", ProblemLine(problem, prefix_).c_str());
}

void CliHost::pageFinished(const PageOutcome& outcome) {
    if (!options_.checking && options_.detail != Detail::Quiet)
        PrintLine(ProcessedEntry(Printable(prefix_ + outcome.page), outcome));
    if (options_.diff && outcome.wouldChange)
        PrintDiff(outcome);
}

void CliHost::PrintLine(const std::string& line) {
    const std::string text = line + "\n";
    Write(text.data(), text.size());
}

void CliHost::Write(const char* data, std::size_t size) {
    if (outputLost_ || stopped_)
        return;
    if (std::fwrite(data, 1, size, stdout) == size && std::fflush(stdout) == 0)
        return;
    // A signal that ends the run also ends a wait for a reader who does not read.
    if (errno == EINTR && abortSignalled != 0) {
        stopped_ = true;
        return;
    }
    outputLost_ = true;
    ClearProgress();
    std::fprintf(stderr, "reririduruv-cli: could not write the list: %s\n", std::strerror(errno));
}

void CliHost::PrintDiff(const PageOutcome& outcome) {
    FileDescriptor page;
    struct stat status {};
    const std::string path = Printable(prefix_ + outcome.page);
    int error = RealDisk().OpenForReading(folder_ + outcome.page, page, status);
    std::string diff;
    if (error == 0)
        error = outcome.refreshed < 0
                    ? ENOSPC
                    : UnifiedDiffOfFiles(RealDisk(), page.get(), outcome.refreshed, "a/" + path,
                                         "b/" + path, diff);
    if (error == EFBIG) {
        ClearProgress();
        std::fprintf(stderr,
                     "reririduruv-cli: %s: diff not shown: its changes span more than %zu bytes "
                     "or %zu lines\n",
                     path.c_str(), kMostDiffBytes, kMostDiffLines);
    } else if (error != 0) {
        Report(Problem{ProblemKind::ReadFailed, outcome.page, {}, error, 0});
        ++diffProblems_;
    }
    Write(diff.data(), diff.size());
}

void CliHost::DrawProgress() {
    if (!terminal_ || options_.detail == Detail::Quiet || options_.pageCount == 0)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDrawn_ < kProgressInterval)
        return;
    lastDrawn_ = now;
    std::fprintf(stderr, "\r\033[K%zu/%zu %s", pagesStarted_ - 1, options_.pageCount,
                 currentPage_.c_str());
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
