#pragma once

// frmRecent: the recent-folders dialog. Its list is where the program keeps the last 20
// folders it ran in, most recent first, for the whole run of the program, so the dialog is
// created at start-up and only shown and hidden afterwards. Choosing a folder here fills
// the main window through the hidden folder dialog.

#include "window.h"

#include <QDialog>
#include <memory>
#include <string>

class AvailableFilesWindow;
class frmSelectFolder;
namespace Ui {
class frmRecent;
}

class frmRecent : public FocusedButtonDialog {
    Q_OBJECT

  public:
    // The dialog starts hidden with an empty list; its check box follows the folder
    // dialog's and the other way round.
    frmRecent(frmSelectFolder& folderDialog, AvailableFilesWindow& mainWindow);
    ~frmRecent() override;

    void Form_Load();
    void OKButton_Click();
    void CancelButton_Click();
    void lstRecent_DblClick();
    void cmdClear_Click();
    void chkHTMLonly_Click();

    // The list as stored: at most 20 entries, empty or missing ones left out.
    void RestoreRecentFolders();
    // Puts folder at the head of the list, drops an older equal entry and the ones beyond
    // 20, and stores the list anew.
    void UpdateRecentFolders(const std::string& folder);
    // Empties the list and removes it from the store.
    void ClearRecentFolders();
    int RecentCount() const { return recentCount_; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void SelectRecentFolder();
    void ShowList(const std::vector<std::string>& folders);

    std::unique_ptr<Ui::frmRecent> ui;
    frmSelectFolder& folderDialog_;
    AvailableFilesWindow& mainWindow_;
    int recentCount_ = 0;
};
