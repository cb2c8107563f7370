#include "frm_select_folder.h"

#include "available_files.h"
#include "file_list.h"
#include "message_box.h"
#include "stored_settings.h"
#include "ui_frmSelectFolder.h"
#include "window_position.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QSet>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <algorithm>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::string ToBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString FromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

// Absolute, without "." and ".." parts and without a trailing "/" (but for the root).
QString CleanFolder(const QString& folder) {
    if (folder.isEmpty())
        return folder;
    return QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
}

QString ParentFolder(const QString& folder) {
    const qsizetype slash = folder.lastIndexOf('/');
    return slash <= 0 ? QStringLiteral("/") : folder.left(slash);
}

QString JoinFolder(const QString& folder, const QString& name) {
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

bool IsAtOrBelow(const QString& folder, const QString& root) {
    if (root == "/")
        return folder.startsWith('/');
    return folder == root || folder.startsWith(root + '/');
}

// The mount point that holds folder, found from the nearest folder that still exists. A
// folder reached through a link to another file system is shown below the root.
QString DriveOf(const QString& folder) {
    QString existing = folder;
    while (existing != "/" && !QFileInfo(existing).isDir())
        existing = ParentFolder(existing);
    const QStorageInfo volume(existing);
    const QString root = volume.isValid() ? CleanFolder(volume.rootPath()) : QStringLiteral("/");
    return IsAtOrBelow(folder, root) ? root : QStringLiteral("/");
}

// The file systems a user would pick a folder from: the root, disks, removable media and
// network shares, but not the kernel's and the system's own mounts.
QStringList MountedDrives() {
    static const QSet<QByteArray> pseudoTypes{
        "autofs",          "binfmt_misc", "bpf",          "cgroup",   "cgroup2", "configfs",
        "debugfs",         "devpts",      "devtmpfs",     "efivarfs", "fusectl", "hugetlbfs",
        "mqueue",          "nsfs",        "proc",         "pstore",   "ramfs",   "rpc_pipefs",
        "securityfs",      "selinuxfs",   "squashfs",     "sysfs",    "tmpfs",   "tracefs",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse"};
    static const QStringList systemFolders{"/boot", "/dev", "/proc", "/run", "/snap", "/sys"};
    QStringList drives{"/"};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = CleanFolder(volume.rootPath());
        if (!volume.isValid() || drives.contains(root) ||
            pseudoTypes.contains(volume.fileSystemType()) || !QFileInfo(root).isDir())
            continue;
        // Removable media are mounted below /run/media on some systems.
        const bool systemFolder =
            std::any_of(systemFolders.begin(), systemFolders.end(),
                        [&](const QString& system) { return IsAtOrBelow(root, system); }) &&
            !IsAtOrBelow(root, "/run/media");
        if (!systemFolder)
            drives << root;
    }
    std::sort(drives.begin() + 1, drives.end());
    return drives;
}

// The sub-folders of folder (links to folders count), hidden ones left out, in the file
// list's order. False when the folder cannot be read, with the reason in error.
bool ListSubFolders(const QString& folder, QStringList& names, std::error_code& error) {
    std::vector<std::string> found;
    error.clear();
    for (fs::directory_iterator entry(ToBytes(folder), error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        std::error_code ignored;
        if (!name.empty() && name.front() != '.' && entry->is_directory(ignored))
            found.push_back(name);
    }
    if (error)
        return false;
    SortFileNames(found);
    names.clear();
    for (const std::string& name : found)
        names << FromBytes(name);
    return true;
}

bool CanRead(const QString& folder, std::error_code& error) {
    const fs::directory_iterator probe(ToBytes(folder), error);
    return !error;
}

} // namespace

frmSelectFolder::frmSelectFolder(AvailableFilesWindow& mainWindow)
    : ui(std::make_unique<Ui::frmSelectFolder>()), mainWindow_(mainWindow),
      filesPattern_(kAllFilesPattern) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(439, 288);
    ui->Dir1->installEventFilter(this);
    // The title takes one line, as designed; a wide desktop font is made smaller for it.
    QFont titleFont = ui->lblTitle->font();
    while (titleFont.pointSizeF() > 6 &&
           QFontMetrics(titleFont).horizontalAdvance(ui->lblTitle->text()) > ui->lblTitle->width())
        titleFont.setPointSizeF(titleFont.pointSizeF() - 0.5);
    ui->lblTitle->setFont(titleFont);
    // The title's area reaches down over the upper half of the check box; clicks there are
    // meant for the box, which the title, lying above it, would otherwise swallow.
    ui->lblTitle->setAttribute(Qt::WA_TransparentForMouseEvents);

    connect(ui->Drive1, &QComboBox::currentIndexChanged, this, &frmSelectFolder::Drive1_Change);
    connect(ui->Dir1, &QTreeWidget::itemDoubleClicked, this, &frmSelectFolder::OpenDir1Item);
    connect(ui->chkHTMLonly, &QCheckBox::toggled, this, &frmSelectFolder::chkHTMLonly_Click);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmSelectFolder::cmdOK_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmSelectFolder::cmdCancel_Click);

    FillDriveList();
    std::error_code ignored;
    if (!OpenFolder(QDir::currentPath(), ignored))
        ReturnToReadableFolder();
    Form_Load();
}

frmSelectFolder::~frmSelectFolder() = default;

void frmSelectFolder::Form_Load() {
    CentreOnScreen(*this);
    SetHtmlOnly(StoredSettings::ReadHtmlOnly());
}

void frmSelectFolder::Drive1_Change() {
    const QString drive = Drive1Drive();
    if (drive.isEmpty() || drive == DriveOf(dir1Folder_))
        return;
    const auto last = lastFolderOnDrive_.find(drive);
    std::error_code error;
    for (QString folder = last != lastFolderOnDrive_.end() ? last->second : drive;
         IsAtOrBelow(folder, drive); folder = ParentFolder(folder)) {
        if (OpenFolder(folder, error))
            return;
        if (folder == drive)
            break;
    }
    ReportUnreadable(tr("The drive %1 cannot be read").arg(drive), error);
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
    std::error_code error;
    if (!CanRead(filesFolder_, error)) {
        ReportUnreadable(tr("The folder %1 cannot be read").arg(filesFolder_), error);
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
    std::error_code ignored;
    if (!OpenFolder(dir1Folder_, ignored))
        ReturnToReadableFolder();
    exec();
}

bool frmSelectFolder::SetDir1Path(const QString& folder) {
    std::error_code error;
    if (OpenFolder(folder, error))
        return true;
    ReportUnreadable(tr("The folder %1 cannot be read").arg(CleanFolder(folder)), error);
    ReturnToReadableFolder();
    return false;
}

QString frmSelectFolder::Drive1Drive() const {
    return ui->Drive1->currentData().toString();
}

void frmSelectFolder::SetDrive1FromPath(const QString& path) {
    ui->Drive1->setCurrentIndex(DriveIndex(DriveOf(CleanFolder(path))));
}

QStringList frmSelectFolder::FileNames() const {
    QStringList names;
    for (int i = 0; i < ui->lstFiles->count(); ++i)
        names << ui->lstFiles->item(i)->text();
    return names;
}

void frmSelectFolder::SetFilesPath(const QString& folder) {
    filesFolder_ = CleanFolder(folder);
    RefreshFiles();
}

void frmSelectFolder::SetFilesPattern(const QString& pattern) {
    filesPattern_ = pattern;
}

void frmSelectFolder::RefreshFiles() {
    ui->lstFiles->clear();
    std::vector<std::string> names;
    // A folder that cannot be read lists nothing; the folder changes say why.
    if (filesFolder_.isEmpty() || !ListFiles(ToBytes(filesFolder_), ToBytes(filesPattern_), names))
        return;
    for (const std::string& name : names)
        ui->lstFiles->addItem(FromBytes(name));
}

bool frmSelectFolder::HtmlOnly() const {
    return ui->chkHTMLonly->isChecked();
}

void frmSelectFolder::SetHtmlOnly(bool checked) {
    ui->chkHTMLonly->setChecked(checked);
}

void frmSelectFolder::keyPressEvent(QKeyEvent* event) {
    // Neither button answers Esc; Enter presses neither, as no button is a default one.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
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

bool frmSelectFolder::OpenFolder(const QString& folder, std::error_code& error) {
    const QString clean = CleanFolder(folder);
    QStringList subFolders;
    if (clean.isEmpty()) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    if (!ListSubFolders(clean, subFolders, error))
        return false;

    dir1Folder_ = clean;
    const QString drive = DriveOf(clean);
    lastFolderOnDrive_[drive] = clean;

    // The chain from the drive's root down to the open folder, then its sub-folders.
    ui->Dir1->clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    auto* item = new QTreeWidgetItem(ui->Dir1, QStringList{drive});
    item->setIcon(0, open);
    item->setData(0, Qt::UserRole, drive);
    QString path = drive;
    for (const QString& part : clean.mid(drive.size()).split('/', Qt::SkipEmptyParts)) {
        path = JoinFolder(path, part);
        item = new QTreeWidgetItem(item, QStringList{part});
        item->setIcon(0, open);
        item->setData(0, Qt::UserRole, path);
    }
    QTreeWidgetItem* const current = item;
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    for (const QString& name : subFolders) {
        auto* child = new QTreeWidgetItem(current, QStringList{name});
        child->setIcon(0, closed);
        child->setData(0, Qt::UserRole, JoinFolder(clean, name));
    }
    ui->Dir1->expandAll();
    ui->Dir1->setCurrentItem(current);
    ui->Dir1->scrollToItem(current);

    ShowDrive(drive);
    Dir1_Change();
    return true;
}

void frmSelectFolder::ReturnToReadableFolder() {
    QStringList candidates;
    if (!dir1Folder_.isEmpty()) {
        for (QString folder = dir1Folder_;; folder = ParentFolder(folder)) {
            candidates << folder;
            if (folder == "/")
                break;
        }
    }
    candidates << QDir::homePath() << QStringLiteral("/");
    for (const QString& folder : candidates) {
        std::error_code ignored;
        if (OpenFolder(folder, ignored))
            return;
    }
    // Nothing at all can be read: keep the lists, but show the drive they belong to.
    ShowDrive(DriveOf(dir1Folder_));
}

void frmSelectFolder::OpenDir1Item(const QTreeWidgetItem* item) {
    if (item != nullptr)
        SetDir1Path(item->data(0, Qt::UserRole).toString());
}

void frmSelectFolder::FillDriveList() {
    const QSignalBlocker quiet(ui->Drive1);
    ui->Drive1->clear();
    for (const QString& drive : MountedDrives())
        ui->Drive1->addItem(drive, drive);
    if (!dir1Folder_.isEmpty())
        ShowDrive(DriveOf(dir1Folder_));
}

void frmSelectFolder::ShowDrive(const QString& drive) {
    // The drive list follows the directory list without moving it again.
    const QSignalBlocker quiet(ui->Drive1);
    ui->Drive1->setCurrentIndex(DriveIndex(drive));
}

int frmSelectFolder::DriveIndex(const QString& drive) {
    // A folder may lie on a file system that the list leaves out, such as a memory one.
    const int index = ui->Drive1->findData(drive);
    if (index >= 0)
        return index;
    ui->Drive1->addItem(drive, drive);
    return ui->Drive1->count() - 1;
}

void frmSelectFolder::ReportUnreadable(const QString& message, const std::error_code& error) {
    MessageBox::Show(message + ": " + QString::fromLocal8Bit(error.message()) + ".", kProgramTitle,
                     MessageBox::Buttons::Ok, MessageBox::Icon::Exclamation);
}
