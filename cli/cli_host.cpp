#include "cli_host.h"

#include <cstdio>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t abortSignalled = 0;

void OnAbortSignal(int) {
    abortSignalled = 1;
}

constexpr auto kProgressInterval = std::chrono::milliseconds(100);

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

void CliHost::setStatus(const std::string& text) {
    static const std::string prefix = "processing ";
    static const std::string suffix = "...";
    // The pass announces each page with "processing <page>..." before anything else.
    if (text.size() > prefix.size() + suffix.size() &&
        text.compare(0, prefix.size(), prefix) == 0 &&
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        text.find(" (", prefix.size()) == std::string::npos) {
        ++pagesStarted_;
        currentPage_ = text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
        DrawProgress(false);
    }
}

void CliHost::addProcessed(const std::string& entry) {
    if (options_.quietList)
        return;
    std::fputs(entry.c_str(), stdout);
    std::fputc('\n', stdout);
}

void CliHost::doEvents() {
    if (abortSignalled)
        state_.AbortRequested = true;
}

void CliHost::showProblem(const std::string& message) {
    ClearProgress();
    std::fflush(stdout);
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
}

void CliHost::runEnded() {
    ClearProgress();
}

void CliHost::DrawProgress(bool force) {
    if (!terminal_)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastDrawn_ < kProgressInterval)
        return;
    lastDrawn_ = now;
    std::fprintf(stderr, "\r\033[K%d/%d %s", pagesStarted_ - 1, options_.pageCount,
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
