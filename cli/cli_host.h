#pragma once

// The command line's stand-in for the main window: the processed-files list goes to
// stdout, problem reports to stderr, the abort signals press Abort, and a terminal gets a
// progress line. One host serves the batches of every folder of a run and names each page
// by its path relative to the site's folder.

#include "run_host.h"

#include <chrono>
#include <functional>
#include <string>

// A problem as editors and CI read it: "reririduruv-cli: PAGE:LINE: TEXT: REASON", the page
// named by its path relative to the site (prefix + its name), the line and the reason where
// there is one; a run's own problem "reririduruv-cli: TEXT: REASON".
std::string ProblemLine(const Problem& problem, const std::string& prefix);

// A name as it is printed: control characters and the backslash as C escapes (\n, \t, \\,
// \xNN), so that one name is always one line.
std::string Printable(const std::string& name);

class CliHost : public RunEvents {
  public:
    enum class Detail {
        Quiet,   // problems and the run's summary only
        Normal,  // also the processed-files entries (with --check: the pages that would change)
        Verbose, // also the status line texts
    };

    struct Options {
        bool logToFile = false;
        bool checking = false; // --check: the processed-files list is not printed
        bool diff = false;     // --diff: a unified diff for every page that would change
        Detail detail = Detail::Normal;
        std::size_t pageCount = 0; // for the progress line
    };

    explicit CliHost(const Options& options);
    ~CliHost() override;

    // SIGINT, SIGTERM, SIGHUP and SIGQUIT request an abort instead of ending the process;
    // a closed pipe is seen as a failed write, not a signal.
    static void InstallSignals();
    // True once an abort signal came.
    static bool AbortSignalled();

    // The folder of the next batch (ending with "/") and its path relative to the site's
    // folder ("" or ending with "/"), which goes in front of every page name printed.
    void SetFolder(const std::string& folder, const std::string& prefix);
    // Problems met while printing diffs (a page that could not be read again).
    int diffProblems() const { return diffProblems_; }

    // Prints one line of the list on stdout. A line that cannot be written stops the run
    // as an abort does.
    void PrintLine(const std::string& line);
    // The output could not be written; the error is on stderr already.
    bool outputLost() const { return outputLost_; }

    // A problem of the run's own (not of a page), where the run reports it.
    void Report(const Problem& problem);

    bool doEvents() override;
    void pageStage(const std::string& page, PageStage stage) override;
    void waitingForFolder() override;
    void showProblem(const Problem& problem) override;
    void pageFinished(const PageOutcome& outcome) override;
    void includeNamed(const std::string& page, const std::string& includePath) override {
        if (onIncludeNamed)
            onIncludeNamed(folder_ + page, includePath);
    }
    // Told of every include file a page names, by the page's path and the include's.
    std::function<void(const std::string& pagePath, const std::string& includePath)> onIncludeNamed;

    // Takes the progress line off the terminal.
    void ClearProgress();

  private:
    void DrawProgress();
    void PrintDiff(const PageOutcome& outcome);
    void Write(const char* data, std::size_t size);

    Options options_;
    std::string folder_;
    std::string prefix_;
    int diffProblems_ = 0;
    bool outputLost_ = false;
    bool stopped_ = false; // a write was ended by an abort signal
    bool toldWaiting_ = false;
    bool progressShown_ = false;
    bool terminal_ = false;
    std::size_t pagesStarted_ = 0;
    std::string currentPage_;
    std::chrono::steady_clock::time_point lastDrawn_{};
};
