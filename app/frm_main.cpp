#include "frm_main.h"

#include "frm_about.h"
#include "frm_help.h"
#include "frm_recent.h"
#include "frm_select_folder.h"
#include "message_box.h"
#include "mod_global.h"
#include "registry.h"
#include "stored_settings.h"
#include "ui_frmMain.h"
#include "window_position.h"

#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>

static void LoadPictures() {
    Q_INIT_RESOURCE(resources);
}

namespace {

QString FromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::string ToBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

// The program's icon in the sizes the desktop's icon theme gets when the program is
// installed, drawn from the same picture, so each place picks a drawn size, not a scaled one.
QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/reririduruv-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()) {
    LoadPictures();
    ui->setupUi(this);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ProgramIcon());
    ui->cmdSelect->setIcon(QIcon(":/pictures/select.png"));
    ui->cmdProcess->setIcon(QIcon(":/pictures/process.png"));
    ui->cmdAbort->setIcon(QIcon(":/pictures/abort.png"));
    // The controls keep their places: the client area is fixed below the menu bar.
    ui->centralwidget->setFixedSize(505, 326);
    resize(505, 326 + menuBar()->sizeHint().height());
    SetDefaultButton(ui->cmdSelect);
    // Lists of thousands of entries: measuring one line serves for all, instead of every
    // entry being measured again at each repaint during a run.
    ui->lstSelected->setUniformItemSizes(true);
    ui->lstProcessed->setUniformItemSizes(true);

    connect(ui->cmdSelect, &QPushButton::clicked, this, &frmMain::cmdSelect_Click);
    connect(ui->cmdProcess, &QPushButton::clicked, this, &frmMain::cmdProcess_Click);
    connect(ui->cmdAbort, &QPushButton::clicked, this, &frmMain::cmdAbort_Click);
    connect(ui->lstSelected, &QListWidget::itemDoubleClicked, this, &frmMain::lstSelected_DblClick);
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
    state_.AbortRequested = false;
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
    const QString folder = ui->txtPathdisplay->text();
    if (!folder.isEmpty() && modGlobal::CheckFolderExists(ToBytes(folder)))
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
    // works on this copy of its entries.
    std::vector<BatchEntry> entries;
    for (int i = 0; i < list->count(); ++i)
        entries.push_back({ToBytes(list->item(i)->text()), list->item(i)->isSelected()});
    running_ = true;
    sinceEvents_.start();
    RunBatch(*this, entries);
    running_ = false;
    if (closeAfterRun_)
        close();
}

void frmMain::lstSelected_DblClick() {
    cmdProcess_Click();
}

void frmMain::cmdAbort_Click() {
    state_.AbortRequested = true;
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

QString frmMain::pathDisplayText() const {
    return ui->txtPathdisplay->text();
}

void frmMain::setPathDisplayText(const QString& text) {
    ui->txtPathdisplay->setText(text);
}

void frmMain::setAvailableFiles(const QString& folder, const QStringList& names) {
    ui->lstSelected->clear();
    ui->lstSelected->addItems(names);
    ui->txtPathdisplay->setText(FromBytes(modGlobal::AddBackslash(ToBytes(folder))));
}

void frmMain::EnableProcessButton() {
    if (ui->lstSelected->count() == 0)
        return;
    ui->cmdProcess->setEnabled(true);
    SetDefaultButton(ui->cmdProcess);
    ui->cmdProcess->setFocus();
}

std::string frmMain::pathDisplay() const {
    return ToBytes(ui->txtPathdisplay->text());
}

void frmMain::setStatus(const std::string& text) {
    const QString status = FromBytes(text);
    ui->lblStatus->setText(status);
    // Shown at once, but not more often than a screen can show it: on a fast disk a page
    // takes far less than a frame, and painting every text would cost more than the page.
    if (!text.empty() &&
        (!sinceStatusPainted_.isValid() || sinceStatusPainted_.elapsed() >= kFrameMs)) {
        ui->lblStatus->repaint();
        sinceStatusPainted_.start();
    }
    emit statusChanged(status);
}

void frmMain::addProcessed(const std::string& entry) {
    ui->lstProcessed->addItem(FromBytes(entry));
}

void frmMain::clearProcessed() {
    ui->lstProcessed->clear();
}

bool frmMain::backupOriginals() const {
    return ui->mnuBackup->isChecked();
}

bool frmMain::errorMessagesOff() const {
    return ui->mnuErrmsgoff->isChecked();
}

void frmMain::doEvents() {
    // Letting events through costs far more than a page line, so a run does it at most
    // every few milliseconds; an Abort click is still seen before the next line.
    if (eventIntervalMs_ > 0 && sinceEvents_.isValid() && sinceEvents_.elapsed() < eventIntervalMs_)
        return;
    QCoreApplication::processEvents();
    sinceEvents_.start();
}

void frmMain::showProblem(const std::string& message) {
    MessageBox::Show(FromBytes(message), kProgramTitle, MessageBox::Buttons::Ok,
                     MessageBox::Icon::Critical);
}

void frmMain::runStarted() {
    SetDefaultButton(ui->cmdAbort);
    ui->cmdAbort->setEnabled(true);
    ui->cmdAbort->setFocus();
}

void frmMain::UpdateRecentFolders() {
    recentDialog_->UpdateRecentFolders(ui->txtPathdisplay->text());
}

void frmMain::runEnded() {
    ui->cmdAbort->setEnabled(false);
    SetDefaultButton(ui->cmdProcess);
    ui->cmdProcess->setFocus();
}

void frmMain::showClosingMessage(bool aborted) {
    if (closeAfterRun_)
        return; // the window is closing; nobody is left to read it
    if (aborted)
        MessageBox::Show("Processing aborted by user!", kProgramTitle, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
    else
        MessageBox::Show("Done!", kProgramTitle, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Information);
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

void frmMain::closeEvent(QCloseEvent* event) {
    if (running_) {
        // Stop the run between two lines first, so no page is left in the middle of its
        // refresh; the window closes when the run has ended.
        state_.AbortRequested = true;
        closeAfterRun_ = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}
