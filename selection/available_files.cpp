#include "available_files.h"

#include "file_list.h"
#include "frm_select_folder.h"
#include "stored_settings.h"

namespace modGlobal {

bool SyncFolderDialog(frmSelectFolder& dialog, const AvailableFilesWindow& window) {
    const std::string folder = window.pathDisplay();
    if (!dialog.SetDir1Path(folder))
        return false;
    dialog.SetDrive1FromPath(folder);
    dialog.SetFilesPath(folder);
    return true;
}

void FillAvailableFiles(const frmSelectFolder& dialog, AvailableFilesWindow& window) {
    window.setAvailableFiles(dialog.FilesPath(), dialog.FileNames());
}

void ApplyHtmlFilter(frmSelectFolder& dialog) {
    dialog.SetFilesPattern(dialog.HtmlOnly() ? kHtmlPatterns : kAllFilesPattern);
    dialog.RefreshFiles();
    StoredSettings::WriteHtmlOnly(dialog.HtmlOnly());
}

} // namespace modGlobal
