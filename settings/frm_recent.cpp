#include "frm_recent.h"

#include "available_files.h"
#include "frm_select_folder.h"
#include "message_box.h"
#include "mod_global.h"
#include "names.h"
#include "stored_settings.h"
#include "ui_frmRecent.h"
#include "window.h"

#include <QCloseEvent>
#include <QKeyEvent>

frmRecent::frmRecent(frmSelectFolder& folderDialog, AvailableFilesWindow& mainWindow)
    : ui(std::make_unique<Ui::frmRecent>()), folderDialog_(folderDialog), mainWindow_(mainWindow) {
    ui->setupUi(this);
    SetUpDialog(*this, QSize(402, 207));

    connect(ui->OKButton, &QPushButton::clicked, this, &frmRecent::OKButton_Click);
    connect(ui->CancelButton, &QPushButton::clicked, this, &frmRecent::CancelButton_Click);
    connect(ui->lstRecent, &QListWidget::itemDoubleClicked, this, &frmRecent::lstRecent_DblClick);
    connect(ui->cmdClear, &QPushButton::clicked, this, &frmRecent::cmdClear_Click);
    connect(ui->chkHTMLonly, &QCheckBox::toggled, this, &frmRecent::chkHTMLonly_Click);
    folderDialog_.SetHtmlOnlyMirror(ui->chkHTMLonly);

    Form_Load();
}

frmRecent::~frmRecent() = default;

void frmRecent::Form_Load() {
    CentreOnScreen(*this);
    ui->chkHTMLonly->setChecked(StoredSettings::ReadHtmlOnly());
}

void frmRecent::OKButton_Click() {
    if (!ui->lstRecent->selectedItems().isEmpty())
        SelectRecentFolder();
    hide();
}

void frmRecent::CancelButton_Click() {
    hide();
}

void frmRecent::lstRecent_DblClick() {
    SelectRecentFolder();
    hide();
}

void frmRecent::cmdClear_Click() {
    if (MessageBox::Show("Clear list?", "Are you sure?", MessageBox::Buttons::OkCancel,
                         MessageBox::Icon::None) != MessageBox::Answer::Ok)
        return;
    ClearRecentFolders();
    hide();
}

void frmRecent::chkHTMLonly_Click() {
    folderDialog_.SetHtmlOnly(ui->chkHTMLonly->isChecked());
    modGlobal::ApplyHtmlFilter(folderDialog_);
}

void frmRecent::RestoreRecentFolders() {
    ShowList(StoredSettings::ReadRecentFolders());
}

void frmRecent::UpdateRecentFolders(const std::string& folder) {
    std::vector<std::string> folders{folder};
    for (int i = 0; i < recentCount_; ++i) {
        std::string entry = ItemName(*ui->lstRecent->item(i));
        if (entry != folder &&
            folders.size() < static_cast<std::size_t>(StoredSettings::kMaxRecentFolders))
            folders.push_back(std::move(entry));
    }
    StoredSettings::WriteRecentFolders(folders);
    ShowList(folders);
}

void frmRecent::ClearRecentFolders() {
    StoredSettings::ClearRecentFolders();
    ShowList({});
}

void frmRecent::ShowList(const std::vector<std::string>& folders) {
    ui->lstRecent->clear();
    for (const std::string& folder : folders)
        ui->lstRecent->addItem(NameItem(folder));
    recentCount_ = static_cast<int>(folders.size());
}

void frmRecent::closeEvent(QCloseEvent* event) {
    CancelButton_Click();
    event->accept();
}

void frmRecent::SelectRecentFolder() {
    const QList<QListWidgetItem*> selected = ui->lstRecent->selectedItems();
    if (selected.isEmpty())
        return;
    const std::string folder = ItemName(*selected.front());
    if (!modGlobal::CheckFolderExists(folder)) {
        MessageBox::Show("Path does not exist.", kProgramTitle, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    const std::string previous = mainWindow_.pathDisplay();
    mainWindow_.setPathDisplay(folder);
    // A folder that exists but cannot be read has been reported by the folder dialog; the
    // main window keeps what it showed.
    if (!modGlobal::SyncFolderDialog(folderDialog_, mainWindow_)) {
        mainWindow_.setPathDisplay(previous);
        return;
    }
    modGlobal::FillAvailableFiles(folderDialog_, mainWindow_);
}
