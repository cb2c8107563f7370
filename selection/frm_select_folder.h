#pragma once

// frmSelectFolder: the folder dialog. The user picks a drive, opens folders, and sees the
// files of the open folder that the HTML-only filter lets through; OK hands them to the
// main window. Created once at start-up and afterwards only shown and hidden, it also lists
// folders for the recent-folders dialog while it is hidden. Folders and names are bytes.

#include <QCheckBox>
#include "window.h"

#include <QDialog>
#include <QPointer>
#include <map>
#include <memory>
#include <string>
#include <vector>

class AvailableFilesWindow;
class QTreeWidgetItem;
namespace Ui {
class frmSelectFolder;
}

class frmSelectFolder : public FocusedButtonDialog {
    Q_OBJECT

  public:
    // The dialog starts hidden, at the program's current folder.
    explicit frmSelectFolder(AvailableFilesWindow& mainWindow);
    ~frmSelectFolder() override;

    void Form_Load();
    void Drive1_Change();
    void Dir1_Change();
    void chkHTMLonly_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

    // Shows the dialog modally with its lists read afresh and returns once it is hidden.
    void ShowModal();

    // The folder open in the directory list: no trailing "/", but for "/" itself.
    const std::string& Dir1Path() const { return dir1Folder_; }
    // Opens folder in the directory list. False when it cannot be read: the dialog then
    // says so once and returns to the nearest folder that it can read.
    bool SetDir1Path(const std::string& folder);
    // The mount point that the drive list shows.
    std::string Drive1Drive() const;
    // Shows the drive that holds path; the drive list's change handling runs when this
    // changes the drive.
    void SetDrive1FromPath(const std::string& path);

    const std::string& FilesPath() const { return filesFolder_; }
    std::vector<std::string> FileNames() const;
    // Lists folder in the file list.
    void SetFilesPath(const std::string& folder);
    // Used from the next listing on.
    void SetFilesPattern(const std::string& pattern) { filesPattern_ = pattern; }
    void RefreshFiles();

    bool HtmlOnly() const;
    // The check box's click handling runs when this changes the box.
    void SetHtmlOnly(bool checked);
    // The recent-folders dialog's check box, which follows this one.
    void SetHtmlOnlyMirror(QCheckBox* box) { htmlOnlyMirror_ = box; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Lists folder in the directory list and follows it with the drive and file lists;
    // changes nothing and gives the errno value when the folder cannot be read.
    int OpenFolder(const std::string& folder);
    // The open folder when it can still be read, else the nearest readable one above it,
    // else the home folder or the root.
    void ReturnToReadableFolder();
    void OpenDir1Item(const QTreeWidgetItem* item);
    void FillDriveList();
    void ShowDrive(const std::string& drive);
    int DriveIndex(const std::string& drive);
    void ReportUnreadable(const char* what, const std::string& path, int error);

    std::unique_ptr<Ui::frmSelectFolder> ui;
    AvailableFilesWindow& mainWindow_;
    std::string dir1Folder_;
    std::string filesFolder_;
    std::string filesPattern_;
    // A change of drive returns to the folder last opened on it, as the drive list of the
    // original did.
    std::map<std::string, std::string> lastFolderOnDrive_;
    QPointer<QCheckBox> htmlOnlyMirror_;
};
