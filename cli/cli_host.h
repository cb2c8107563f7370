#pragma once

// The command line's stand-in for the main window: the processed-files list goes to
// stdout, problem reports to stderr, Ctrl+C and SIGTERM press Abort, and a terminal gets
// a progress line. One host serves the batches of every folder of a run, and names each
// page by its path relative to the site's folder.

#include "batch_run.h"

#include <chrono>
#include <csignal>
#include <string>

class CliHost : public BatchHost {
  public:
    enum class Detail {
        Quiet,   // problems and the run's summary only
        Normal,  // also the processed-files entries (with --check: the pages that would change)
        Verbose, // also the status line texts
    };

    struct Options {
        bool backup = false;
        bool logToFile = false;
        bool checking = false; // --check: the processed-files list is not printed
        bool diff = false;     // --diff: a unified diff for every page that would change
        Detail detail = Detail::Normal;
        int pageCount = 0; // for the progress line
    };

    explicit CliHost(const Options& options);
    ~CliHost() override;

    // Makes SIGINT and SIGTERM request an abort instead of ending the process.
    static void InstallAbortSignals();
    // True once SIGINT or SIGTERM came.
    static bool AbortSignalled();

    // The folder of the next batch (ending with "/") and its path relative to the site's
    // folder ("" or ending with "/"), which goes in front of every page name printed.
    void SetFolder(const std::string& folder, const std::string& prefix);
    // Where the pass puts the refreshed bytes of a checked page, for --diff.
    std::string* refreshedBytes() { return &refreshed_; }
    // Problems met while printing diffs (a page that could not be read again).
    int diffProblems() const { return diffProblems_; }

    std::string pathDisplay() const override { return folder_; }
    void setStatus(const std::string& text) override;
    void addProcessed(const std::string& entry) override;
    void clearProcessed() override {}
    bool backupOriginals() const override { return options_.backup; }
    bool errorMessagesOff() const override { return options_.logToFile; }
    void doEvents() override;
    void showProblem(const std::string& message) override;
    RunState& runState() override { return state_; }

    void runStarted() override { runOver_ = false; }
    void UpdateRecentFolders() override {}
    void runEnded() override;
    void showClosingMessage(bool) override {}
    void pageFinished(const std::string& pageName, const PageOutcome& outcome) override;

  private:
    void DrawProgress(bool force);
    void ClearProgress();
    void PrintLine(const std::string& line);
    void PrintDiff(const std::string& pageName);
    // A problem text that names the current page by its bare name, naming it in full.
    std::string NamedInFull(const std::string& message) const;

    Options options_;
    RunState state_;
    std::string folder_;
    std::string prefix_;
    // The batch has ended: what it adds now are its own closing lines, which the caller
    // prints once for all folders.
    bool runOver_ = false;
    std::string refreshed_;
    int diffProblems_ = 0;
    bool progressShown_ = false;
    bool terminal_ = false;
    int pagesStarted_ = 0;
    std::string currentPage_;
    std::chrono::steady_clock::time_point lastDrawn_{};
};
