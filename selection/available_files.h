#pragma once

// The main window's available-files list and path box are filled only from the folder
// dialog's file list, which is the program's one place where a folder is listed; the
// HTML-only filter decides what that list shows and is stored whenever it is applied.

#include <string>
#include <vector>

class frmSelectFolder;

// The main window as these routines see it. Folders and names are bytes.
class AvailableFilesWindow {
  public:
    // The path box: the current folder, ending with "/".
    virtual std::string pathDisplay() const = 0;
    virtual void setPathDisplay(const std::string& folder) = 0;
    // Fills the available-files list with names, none selected, and the path box with
    // folder and a trailing "/" where it lacks one.
    virtual void setAvailableFiles(const std::string& folder,
                                   const std::vector<std::string>& names) = 0;
    // Makes the Process button usable, default and focused when the list has entries;
    // never disables it.
    virtual void EnableProcessButton() = 0;

  protected:
    ~AvailableFilesWindow() = default;
};

namespace modGlobal {

// Points the folder dialog's directory, drive and file lists at the path box's folder,
// which the caller has found to exist. False when the folder cannot be read: the dialog
// has said so and shows a folder that it can read.
bool SyncFolderDialog(frmSelectFolder& dialog, const AvailableFilesWindow& window);

// Copies the folder dialog's file list into the available-files list and its folder into
// the path box.
void FillAvailableFiles(const frmSelectFolder& dialog, AvailableFilesWindow& window);

// Sets the file list's pattern from the folder dialog's check box, lists the folder afresh
// and stores the setting.
void ApplyHtmlFilter(frmSelectFolder& dialog);

} // namespace modGlobal
