#include "frm_select_folder.h"

#include "available_files.h"
#include "file_list.h"
#include "message_box.h"
#include "mod_global.h"
#include "names.h"
#include "stored_settings.h"
#include "ui_frmSelectFolder.h"
#include "volumes.h"
#include "window.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QSignalBlocker>
#include <cerrno>
#include <cstring>

frmSelectFolder::frmSelectFolder(AvailableFilesWindow& mainWindow)
    : ui(std::make_unique<Ui::frmSelectFolder>()), mainWindow_(mainWindow),
      filesPattern_(kAllFilesPattern) {
    ui->setupUi(this);
    SetUpDialog(*this, QSize(439, 288));
    ui->Dir1->installEventFilter(this);
    // The title's area reaches down over the upper half of the check box; clicks there are
    // meant for the box, which the title, lying above it, would otherwise swallow.
    ui->lblTitle->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(ui->Drive1, &QComboBox::currentIndexChanged, this, &frmSelectFolder::Drive1_Change);
    connect(ui->Dir1, &QTreeWidget::itemDoubleClicked, this, &frmSelectFolder::OpenDir1Item);
    connect(ui->chkHTMLonly, &QCheckBox::toggled, this, &frmSelectFolder::chkHTMLonly_Click);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSelectFolder::cmdOK_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSelectFolder::cmdCancel_Click);

    FillDriveList();
    if (OpenFolder(QFile::encodeName(QDir::currentPath()).toStdString()) != 0)
        ReturnToReadableFolder();
    Form_Load();
}

frmSelectFolder::~frmSelectFolder() = default;

void frmSelectFolder::Form_Load() {
    CentreOnScreen(*this);
    SetHtmlOnly(StoredSettings::ReadHtmlOnly());
}

void frmSelectFolder::Drive1_Change() {
    const std::string drive = Drive1Drive();
    if (drive.empty() || drive == DriveOf(dir1Folder_))
        return;
    const auto last = lastFolderOnDrive_.find(drive);
    int error = 0;
    for (std::string folder = last != lastFolderOnDrive_.end() ? last->second : drive;
         IsAtOrBelow(folder, drive); folder = ParentFolder(folder)) {
        if ((error = OpenFolder(folder)) == 0)
            return;
        if (folder == drive)
            break;
    }
    ReportUnreadable("drive", drive, error);
    ReturnToReadableFolder();
}

void frmSelectFolder::Dir1_Change() {
    SetFilesPattern(HtmlOnly() ? kHtmlPatterns : kAllFilesPattern);
    SetFilesPath(dir1Folder_);
}

void frmSelectFolder::chkHTMLonly_Click() {
    if (htmlOnlyMirror_)
        htmlOnlyMirror_->setChecked(HtmlOnly());
    modGlobal::ApplyHtmlFilter(*this);
}

void frmSelectFolder::cmdOK_Click() {
    // The folder may have gone since it was opened; the main window must not be handed a
    // folder that is not there.
    std::vector<std::string> ignored;
    if (const int error = ListSubFolders(filesFolder_, true, ignored)) {
        ReportUnreadable("folder", filesFolder_, error);
        ReturnToReadableFolder();
        return;
    }
    modGlobal::FillAvailableFiles(*this, mainWindow_);
    hide();
}

void frmSelectFolder::cmdCancel_Click() {
    hide();
}

void frmSelectFolder::ShowModal() {
    FillDriveList();
    // A folder that has gone while the dialog was hidden is left quietly, as the dialog
    // simply opens where it was.
    if (OpenFolder(dir1Folder_) != 0)
        ReturnToReadableFolder();
    exec();
}

bool frmSelectFolder::SetDir1Path(const std::string& folder) {
    const int error = OpenFolder(folder);
    if (error == 0)
        return true;
    ReportUnreadable("folder", CleanFolder(folder), error);
    ReturnToReadableFolder();
    return false;
}

std::string frmSelectFolder::Drive1Drive() const {
    return NameOf(ui->Drive1->currentData());
}

void frmSelectFolder::SetDrive1FromPath(const std::string& path) {
    ui->Drive1->setCurrentIndex(DriveIndex(DriveOf(CleanFolder(path))));
}

std::vector<std::string> frmSelectFolder::FileNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < ui->lstFiles->count(); ++i)
        names.push_back(ItemName(*ui->lstFiles->item(i)));
    return names;
}

void frmSelectFolder::SetFilesPath(const std::string& folder) {
    filesFolder_ = CleanFolder(folder);
    RefreshFiles();
}

void frmSelectFolder::RefreshFiles() {
    ui->lstFiles->clear();
    std::vector<std::string> names;
    if (filesFolder_.empty())
        return;
    // A folder read only in part would offer only some of its pages.
    if (const int error = ListFiles(filesFolder_, filesPattern_, names)) {
        ReportUnreadable("folder", filesFolder_, error);
        return;
    }
    for (const std::string& name : names)
        ui->lstFiles->addItem(NameItem(name));
}

bool frmSelectFolder::HtmlOnly() const {
    return ui->chkHTMLonly->isChecked();
}

void frmSelectFolder::SetHtmlOnly(bool checked) {
    ui->chkHTMLonly->setChecked(checked);
}

void frmSelectFolder::closeEvent(QCloseEvent* event) {
    cmdCancel_Click();
    event->accept();
}

bool frmSelectFolder::eventFilter(QObject* watched, QEvent* event) {
    // Enter opens the highlighted folder, as a double-click does.
    if (watched == ui->Dir1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OpenDir1Item(ui->Dir1->currentItem());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

int frmSelectFolder::OpenFolder(const std::string& folder) {
    const std::string clean = CleanFolder(folder);
    if (clean.empty())
        return ENOENT;
    std::vector<std::string> subFolders;
    if (const int error = ListSubFolders(clean, true, subFolders))
        return error;

    dir1Folder_ = clean;
    const std::string drive = DriveOf(clean);
    lastFolderOnDrive_[drive] = clean;

    // The chain from the drive's root down to the open folder, then its sub-folders.
    ui->Dir1->clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    auto* item = new QTreeWidgetItem(ui->Dir1, QStringList{ShownName(drive)});
    item->setIcon(0, open);
    item->setData(0, Qt::UserRole, NameBytes(drive));
    std::string path = drive;
    const std::string below = clean.substr(std::min(drive.size(), clean.size()));
    for (std::size_t start = 0; start < below.size();) {
        std::size_t end = below.find('/', start);
        if (end == std::string::npos)
            end = below.size();
        if (end > start) {
            const std::string part = below.substr(start, end - start);
            path = modGlobal::AddBackslash(path) + part;
            item = new QTreeWidgetItem(item, QStringList{ShownName(part)});
            item->setIcon(0, open);
            item->setData(0, Qt::UserRole, NameBytes(path));
        }
        start = end + 1;
    }
    QTreeWidgetItem* const current = item;
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (const std::string& name : subFolders) {
        auto* child = new QTreeWidgetItem(current, QStringList{ShownName(name)});
        child->setIcon(0, closed);
        child->setData(0, Qt::UserRole, NameBytes(modGlobal::AddBackslash(clean) + name));
    }
    ui->Dir1->expandAll();
    ui->Dir1->setCurrentItem(current);
    ui->Dir1->scrollToItem(current);

    ShowDrive(drive);
    Dir1_Change();
    return 0;
}

void frmSelectFolder::ReturnToReadableFolder() {
    std::vector<std::string> candidates;
    if (!dir1Folder_.empty()) {
        for (std::string folder = dir1Folder_;; folder = ParentFolder(folder)) {
            candidates.push_back(folder);
            if (folder == "/")
                break;
        }
    }
    candidates.push_back(QFile::encodeName(QDir::homePath()).toStdString());
    candidates.push_back("/");
    for (const std::string& folder : candidates)
        if (OpenFolder(folder) == 0)
            return;
    // Nothing at all can be read: keep the lists, but show the drive they belong to.
    ShowDrive(DriveOf(dir1Folder_));
}

void frmSelectFolder::OpenDir1Item(const QTreeWidgetItem* item) {
    if (item != nullptr)
        SetDir1Path(NameOf(item->data(0, Qt::UserRole)));
}

void frmSelectFolder::FillDriveList() {
    const QSignalBlocker quiet(ui->Drive1);
    ui->Drive1->clear();
    for (const std::string& drive : MountedDrives())
        ui->Drive1->addItem(ShownName(drive), NameBytes(drive));
    if (!dir1Folder_.empty())
        ShowDrive(DriveOf(dir1Folder_));
}

void frmSelectFolder::ShowDrive(const std::string& drive) {
    // The drive list follows the directory list without moving it again.
    const QSignalBlocker quiet(ui->Drive1);
    ui->Drive1->setCurrentIndex(DriveIndex(drive));
}

int frmSelectFolder::DriveIndex(const std::string& drive) {
    // A folder may lie on a file system that the list leaves out, such as a memory one.
    const int index = ui->Drive1->findData(NameBytes(drive));
    if (index >= 0)
        return index;
    ui->Drive1->addItem(ShownName(drive), NameBytes(drive));
    return ui->Drive1->count() - 1;
}

void frmSelectFolder::ReportUnreadable(const char* what, const std::string& path, int error) {
    MessageBox::Show(QStringLiteral("The %1 %2 cannot be read: %3.")
                         .arg(QLatin1String(what), ShownName(path),
                              QString::fromLocal8Bit(std::strerror(error))),
                     kProgramTitle, MessageBox::Buttons::Ok, MessageBox::Icon::Exclamation);
}
