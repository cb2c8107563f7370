#pragma once

// The command line's stand-in for the main window: the processed-files list goes to
// stdout, problem reports to stderr, Ctrl+C and SIGTERM press Abort, and a terminal gets
// a progress line.

#include "batch_run.h"

#include <chrono>
#include <csignal>
#include <string>

class CliHost : public BatchHost {
  public:
    struct Options {
        std::string folder; // ends with "/"
        bool backup = false;
        bool logToFile = false;
        bool quietList = false; // --check: the list is not printed
        int pageCount = 0;      // for the progress line
    };

    explicit CliHost(const Options& options);
    ~CliHost() override;

    // Makes SIGINT and SIGTERM request an abort instead of ending the process.
    static void InstallAbortSignals();

    std::string pathDisplay() const override { return options_.folder; }
    void setStatus(const std::string& text) override;
    void addProcessed(const std::string& entry) override;
    void clearProcessed() override {}
    bool backupOriginals() const override { return options_.backup; }
    bool errorMessagesOff() const override { return options_.logToFile; }
    void doEvents() override;
    void showProblem(const std::string& message) override;
    RunState& runState() override { return state_; }

    void runStarted() override {}
    void UpdateRecentFolders() override {}
    void runEnded() override;
    void showClosingMessage(bool) override {}

  private:
    void DrawProgress(bool force);
    void ClearProgress();

    Options options_;
    RunState state_;
    bool progressShown_ = false;
    bool terminal_ = false;
    int pagesStarted_ = 0;
    std::string currentPage_;
    std::chrono::steady_clock::time_point lastDrawn_{};
};
