#pragma once

// frmMain: the program's main window. It owns the run state, shows the current folder,
// its files and the results of the last run, and hands every operation to its owner.
// Closing it stores the options and ends the program.

#include "available_files.h"
#include "run_host.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <memory>

class QPushButton;
class frmRecent;
class frmSelectFolder;
namespace Ui {
class frmMain;
}

class frmMain : public QMainWindow, public RunEvents, public AvailableFilesWindow {
    Q_OBJECT

  public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    void Form_Load();
    void Form_Unload();
    void cmdSelect_Click();
    void cmdProcess_Click();
    void lstSelected_DblClick();
    void cmdAbort_Click();
    void mnuSelect_Click();
    void mnuProcess_Click();
    void mnuRecent_Click();
    void mnuExit_Click();
    void mnuBackup_Click();
    void mnuErrmsgoff_Click();
    void mnuHelp_Click();
    void mnuAbout_Click();
    // Chooses folder (a relative name is taken from the working folder) as picking it in the
    // folder dialog and confirming does: the dialog's own listing fills the list.
    void ChooseFolder(const std::string& folder);

    // AvailableFilesWindow
    std::string pathDisplay() const override { return pathDisplay_; }
    void setPathDisplay(const std::string& folder) override;
    void setAvailableFiles(const std::string& folder,
                           const std::vector<std::string>& names) override;
    void EnableProcessButton() override;

    bool isRunning() const { return running_; }
    // How often a run lets window events through, at most; 0 means before every line.
    void setEventInterval(int milliseconds) { eventIntervalMs_ = milliseconds; }

    // RunEvents
    bool doEvents() override;
    void pageStage(const std::string& page, PageStage stage) override;
    void waitingForFolder() override;
    void showProblem(const Problem& problem) override;
    void pageFinished(const PageOutcome& outcome) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The run's own steps around the pages, in the order of a run.
    void RunStarted();
    void UpdateRecentFolders();
    void RunEnded();
    void RunClosed(bool aborted);
    void SetDefaultButton(QPushButton* button);
    void SetStatus(const std::string& text);
    void AddProcessed(const std::string& entry);
    // Shows the status line's latest text and the entries added since, at most once a
    // frame unless now.
    void ShowRunState(bool now);

    std::unique_ptr<Ui::frmMain> ui;
    // Loaded hidden at start-up and kept until the program ends. The recent-folders dialog
    // uses the folder dialog, so it is declared after it and destroyed before it.
    std::unique_ptr<frmSelectFolder> folderDialog_;
    std::unique_ptr<frmRecent> recentDialog_;
    // The run state: set by the Abort button, counted by the run.
    bool AbortRequested = false;
    std::int64_t ProcessedCount = 0;
    std::int64_t SkippedCount = 0;
    // The path box's folder as bytes; the box shows it as text.
    std::string pathDisplay_;
    QPushButton* defaultButton_ = nullptr;
    bool running_ = false;
    bool closeAfterRun_ = false;
    int eventIntervalMs_ = 10;
    QElapsedTimer sinceEvents_;
    static constexpr int kFrameMs = 16;
    QElapsedTimer sinceShown_;
    std::string status_;
    bool statusChanged_ = false;
    QStringList newEntries_;
};
