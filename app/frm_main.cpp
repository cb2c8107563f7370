#include "frm_main.h"

#include "batch_run.h"
#include "frm_about.h"
#include "frm_help.h"
#include "frm_recent.h"
#include "frm_select_folder.h"
#include "message_box.h"
#include "mod_global.h"
#include "names.h"
#include "pictures.h"
#include "registry.h"
#include "stored_settings.h"
#include "ui_frmMain.h"
#include "window.h"
#include "wording.h"

#include <QCloseEvent>
#include <QKeyEvent>

frmMain::frmMain(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ProgramIcon());
    ui->cmdSelect->setIcon(Picture("select"));
    ui->cmdProcess->setIcon(Picture("process"));
    ui->cmdAbort->setIcon(Picture("abort"));
    // The controls keep their places: the client area is fixed below the menu bar.
    ui->centralwidget->setFixedSize(505, 326);
    resize(505, 326 + menuBar()->sizeHint().height());
    FitTexts(*this);
    SetDefaultButton(ui->cmdSelect);
    // Lists of thousands of entries: measuring one line serves for all, instead of every
    // entry being measured again at each repaint during a run.
    ui->lstSelected->setUniformItemSizes(true);
    ui->lstProcessed->setUniformItemSizes(true);

    connect(ui->cmdSelect, &QPushButton::clicked, this, &frmMain::cmdSelect_Click);
    connect(ui->cmdProcess, &QPushButton::clicked, this, &frmMain::cmdProcess_Click);
    connect(ui->cmdAbort, &QPushButton::clicked, this, &frmMain::cmdAbort_Click);
    // A double-click anywhere in the list, below its entries too, starts the run.
    ui->lstSelected->viewport()->installEventFilter(this);
    connect(ui->mnuSelect, &QAction::triggered, this, &frmMain::mnuSelect_Click);
    connect(ui->mnuProcess, &QAction::triggered, this, &frmMain::mnuProcess_Click);
    connect(ui->mnuRecent, &QAction::triggered, this, &frmMain::mnuRecent_Click);
    connect(ui->mnuExit, &QAction::triggered, this, &frmMain::mnuExit_Click);
    connect(ui->mnuHelp, &QAction::triggered, this, &frmMain::mnuHelp_Click);
    connect(ui->mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    // "Backup originals" and "Error msgs off" flip their own check marks when chosen.

    Form_Load();
}

frmMain::~frmMain() = default;

void frmMain::Form_Load() {
    CentreOnScreen(*this);
    AbortRequested = false;
    folderDialog_ = std::make_unique<frmSelectFolder>(*this);
    recentDialog_ = std::make_unique<frmRecent>(*folderDialog_, *this);
    recentDialog_->RestoreRecentFolders();
    ui->mnuBackup->setChecked(StoredSettings::ReadOption(StoredSettings::kBackupKey));
    ui->mnuErrmsgoff->setChecked(StoredSettings::ReadOption(StoredSettings::kErrmsgoffKey));
}

void frmMain::Form_Unload() {
    const Registry::Batch batch;
    StoredSettings::WriteOption(StoredSettings::kBackupKey, ui->mnuBackup->isChecked());
    StoredSettings::WriteOption(StoredSettings::kErrmsgoffKey, ui->mnuErrmsgoff->isChecked());
    // Every other window goes with the program, also one that is still on screen.
    QCoreApplication::quit();
}

void frmMain::cmdSelect_Click() {
    if (running_)
        return; // the folder stays as it is until the run ends
    ui->lstProcessed->clear();
    if (!pathDisplay_.empty() && modGlobal::CheckFolderExists(pathDisplay_))
        modGlobal::SyncFolderDialog(*folderDialog_, *this);
    folderDialog_->ShowModal();
    QCoreApplication::processEvents();
    // The dialog has no owner, so the desktop need not hand the focus back by itself.
    activateWindow();
    EnableProcessButton();
}

void frmMain::cmdProcess_Click() {
    if (running_)
        return; // one run at a time; a second start while one is under way is ignored
    if (ui->mnuErrmsgoff->isChecked() &&
        MessageBox::Show("Error Messages Off option is active. Continue?", "Error Message Off",
                         MessageBox::Buttons::OkCancel,
                         MessageBox::Icon::None) != MessageBox::Answer::Ok)
        return;

    QListWidget* list = ui->lstSelected;
    bool anySelected = false;
    for (int i = 0; i < list->count(); ++i)
        anySelected = anySelected || list->item(i)->isSelected();
    if (!anySelected) {
        if (MessageBox::Show("No files selected. Process all?", "No files selected",
                             MessageBox::Buttons::OkCancel,
                             MessageBox::Icon::None) != MessageBox::Answer::Ok)
            return;
        list->selectAll();
    }
    if (list->count() == 0) {
        MessageBox::Show("No files selected!", kProgramTitle, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    if (anySelected && MessageBox::Show("Process selected file(s)?", "Are you sure?",
                                        MessageBox::Buttons::OkCancel,
                                        MessageBox::Icon::None) != MessageBox::Answer::Ok)
        return;

    // The list cannot change during the run (folder changes wait for its end), so the run
    // works on this copy of its selected entries.
    std::vector<std::string> pages;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            pages.push_back(ItemName(*list->item(i)));
    running_ = true;
    RunStarted();
    RunOptions options;
    options.folder = pathDisplay_;
    options.backup = ui->mnuBackup->isChecked();
    options.errorMessagesOff = ui->mnuErrmsgoff->isChecked();
    const RunOutcome outcome = RunBatch(options, pages, *this);
    ProcessedCount = outcome.processed;
    SkippedCount = outcome.skipped;
    UpdateRecentFolders();
    RunEnded();
    RunClosed(AbortRequested);
    running_ = false;
    if (closeAfterRun_)
        close();
}

void frmMain::lstSelected_DblClick() {
    cmdProcess_Click();
}

void frmMain::cmdAbort_Click() {
    AbortRequested = true;
}

void frmMain::mnuSelect_Click() {
    cmdSelect_Click();
}

void frmMain::mnuProcess_Click() {
    cmdProcess_Click();
}

void frmMain::mnuRecent_Click() {
    if (running_)
        return; // the folder stays as it is until the run ends
    recentDialog_->exec();
    activateWindow();
    EnableProcessButton();
}

void frmMain::mnuExit_Click() {
    close();
}

void frmMain::mnuBackup_Click() {
    ui->mnuBackup->setChecked(!ui->mnuBackup->isChecked());
}

void frmMain::mnuErrmsgoff_Click() {
    ui->mnuErrmsgoff->setChecked(!ui->mnuErrmsgoff->isChecked());
}

void frmMain::mnuHelp_Click() {
    const QString text = QStringLiteral("1. Click Select Path button and select target folder\r"
                                        "2. Go to step 3 (process all) or select files\r"
                                        "3. Click Process button\r"
                                        "\r"
                                        "Replaces text between the <reririduruv=file> and\r"
                                        "</reririduruv> tags within specified file.");
    // Built for this opening and gone when it closes, so each opening centres it anew.
    frmHelp help;
    help.SetText(text);
    help.exec();
}

void frmMain::mnuAbout_Click() {
    frmAbout about;
    about.exec();
}

void frmMain::ChooseFolder(const std::string& folder) {
    // As a recent folder is chosen: the folder dialog goes to the folder, and a folder that
    // it cannot read, which it has reported, leaves the window as it was.
    const std::string previous = pathDisplay_;
    setPathDisplay(modGlobal::AddBackslash(folder));
    if (!modGlobal::SyncFolderDialog(*folderDialog_, *this)) {
        setPathDisplay(previous);
        return;
    }
    modGlobal::FillAvailableFiles(*folderDialog_, *this);
    EnableProcessButton();
}

void frmMain::setPathDisplay(const std::string& folder) {
    pathDisplay_ = folder;
    ui->txtPathdisplay->setText(ShownName(folder));
}

void frmMain::setAvailableFiles(const std::string& folder, const std::vector<std::string>& names) {
    ui->lstSelected->clear();
    for (const std::string& name : names)
        ui->lstSelected->addItem(NameItem(name));
    setPathDisplay(modGlobal::AddBackslash(folder));
}

void frmMain::EnableProcessButton() {
    if (ui->lstSelected->count() == 0)
        return;
    ui->cmdProcess->setEnabled(true);
    SetDefaultButton(ui->cmdProcess);
    ui->cmdProcess->setFocus();
}

// During a run the status line and the processed-files list change many times a frame; a
// frame shows only their latest state, which costs the run far less than showing each
// change. What a frame would show is shown at once before any event is let through.
void frmMain::SetStatus(const std::string& text) {
    status_ = text;
    statusChanged_ = true;
    ShowRunState(false);
}

void frmMain::AddProcessed(const std::string& entry) {
    newEntries_ << ShownName(entry);
    ShowRunState(false);
}

void frmMain::ShowRunState(bool now) {
    if (!now && sinceShown_.isValid() && sinceShown_.elapsed() < kFrameMs)
        return;
    if (!newEntries_.isEmpty()) {
        ui->lstProcessed->addItems(newEntries_);
        newEntries_.clear();
    }
    if (statusChanged_) {
        ui->lblStatus->setText(ShownName(status_));
        if (!status_.empty())
            ui->lblStatus->repaint();
        statusChanged_ = false;
    }
    sinceShown_.start();
}

void frmMain::pageStage(const std::string& page, PageStage stage) {
    SetStatus(StatusText(page, stage));
}

void frmMain::waitingForFolder() {
    SetStatus(WaitingText(pathDisplay_));
}

void frmMain::pageFinished(const PageOutcome& outcome) {
    AddProcessed(ProcessedEntry(outcome));
    SetStatus("");
}

bool frmMain::doEvents() {
    // Letting events through costs far more than a page line, so a run does it at most
    // every few milliseconds; an Abort click is still seen before the next line.
    if (eventIntervalMs_ > 0 && sinceEvents_.isValid() && sinceEvents_.elapsed() < eventIntervalMs_)
        return AbortRequested;
    ShowRunState(true);
    QCoreApplication::processEvents();
    sinceEvents_.start();
    return AbortRequested;
}

void frmMain::showProblem(const Problem& problem) {
    ShowRunState(true);
    MessageBox::Show(ShownName(ProblemMessage(problem)), kProgramTitle, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Critical);
}

void frmMain::RunStarted() {
    AbortRequested = false;
    SetDefaultButton(ui->cmdAbort);
    ui->cmdAbort->setEnabled(true);
    ui->cmdAbort->setFocus();
    newEntries_.clear();
    ui->lstProcessed->clear();
    ProcessedCount = 0;
    SkippedCount = 0;
    sinceEvents_.start();
}

void frmMain::UpdateRecentFolders() {
    recentDialog_->UpdateRecentFolders(pathDisplay_);
}

void frmMain::RunEnded() {
    ui->cmdAbort->setEnabled(false);
    SetDefaultButton(ui->cmdProcess);
    ui->cmdProcess->setFocus();
}

void frmMain::RunClosed(bool aborted) {
    if (aborted)
        AddProcessed(kAbortedLine);
    ShowRunState(true);
    // A window that is closing has nobody left to read the closing message.
    if (!closeAfterRun_) {
        if (aborted)
            MessageBox::Show("Processing aborted by user!", kProgramTitle, MessageBox::Buttons::Ok,
                             MessageBox::Icon::Exclamation);
        else
            MessageBox::Show("Done!", kProgramTitle, MessageBox::Buttons::Ok,
                             MessageBox::Icon::Information);
    }
    AddProcessed(ProcessedLine(ProcessedCount));
    AddProcessed(SkippedLine(SkippedCount));
    ShowRunState(true);
}

void frmMain::SetDefaultButton(QPushButton* button) {
    if (defaultButton_ != nullptr)
        defaultButton_->setDefault(false);
    defaultButton_ = button;
    defaultButton_->setDefault(true);
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    // As in a dialog: Enter presses the focused push button, or else the default button.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        QPushButton* target = focused != nullptr ? focused : defaultButton_;
        if (target != nullptr && target->isEnabled())
            target->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    // The click before a double-click has already set the selection the run works on.
    if (watched == ui->lstSelected->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        lstSelected_DblClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Stop the run between two lines first, so no page is left in the middle of its
        // refresh; the window closes when the run has ended.
        AbortRequested = true;
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}
