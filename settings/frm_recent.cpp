#include "frm_recent.h"

#include "available_files.h"
#include "frm_select_folder.h"
#include "message_box.h"
#include "mod_global.h"
#include "registry.h"
#include "stored_settings.h"
#include "ui_frmRecent.h"
#include "window_position.h"

#include <QCloseEvent>
#include <QFile>
#include <QKeyEvent>

namespace {

using Registry::HKEY_CURRENT_USER;
using StoredSettings::kValueName;
using StoredSettings::RecentFolderKey;

std::string ToBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

QString FromBytes(const std::string& bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

} // namespace

frmRecent::frmRecent(frmSelectFolder& folderDialog, AvailableFilesWindow& mainWindow)
    : ui(std::make_unique<Ui::frmRecent>()), folderDialog_(folderDialog), mainWindow_(mainWindow) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(402, 207);

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
    recentCount_ = 0;
    ui->lstRecent->clear();
    const int count = StoredSettings::ReadRecentCount();
    for (int index = 1; index <= count; ++index) {
        const std::string folder =
            Registry::ReadSetting(HKEY_CURRENT_USER, RecentFolderKey(index), kValueName)
                .value_or("");
        if (folder.empty())
            continue;
        ++recentCount_;
        ui->lstRecent->addItem(FromBytes(folder));
    }
}

void frmRecent::UpdateRecentFolders(const QString& folder) {
    const Registry::Batch batch;
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, StoredSettings::kRecentFilesKey);
    Registry::WriteSetting(HKEY_CURRENT_USER, RecentFolderKey(1), kValueName, ToBytes(folder));
    QStringList older;
    for (int i = 0; i < recentCount_; ++i)
        older << ui->lstRecent->item(i)->text();
    ui->lstRecent->clear();
    ui->lstRecent->addItem(folder);
    int count = 1;
    for (const QString& entry : older) {
        if (entry == folder || count == StoredSettings::kMaxRecentFolders)
            continue;
        ++count;
        Registry::WriteSetting(HKEY_CURRENT_USER, RecentFolderKey(count), kValueName,
                               ToBytes(entry));
        ui->lstRecent->addItem(entry);
    }
    recentCount_ = count;
    Registry::WriteSetting(HKEY_CURRENT_USER, RecentFolderKey(0), kValueName,
                           std::to_string(count));
}

void frmRecent::ClearRecentFolders() {
    Registry::DeleteSettingKey(HKEY_CURRENT_USER, StoredSettings::kRecentFilesKey);
    recentCount_ = 0;
    ui->lstRecent->clear();
}

void frmRecent::keyPressEvent(QKeyEvent* event) {
    // No button answers Esc; Enter presses none, as no button is a default one.
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmRecent::closeEvent(QCloseEvent* event) {
    CancelButton_Click();
    event->accept();
}

void frmRecent::SelectRecentFolder() {
    const QList<QListWidgetItem*> selected = ui->lstRecent->selectedItems();
    if (selected.isEmpty())
        return;
    const QString folder = selected.front()->text();
    if (!modGlobal::CheckFolderExists(ToBytes(folder))) {
        MessageBox::Show("Path does not exist.", kProgramTitle, MessageBox::Buttons::Ok,
                         MessageBox::Icon::Exclamation);
        return;
    }
    const QString previous = mainWindow_.pathDisplayText();
    mainWindow_.setPathDisplayText(folder);
    // A folder that exists but cannot be read has been reported by the folder dialog; the
    // main window keeps what it showed.
    if (!modGlobal::SyncFolderDialog(folderDialog_, mainWindow_)) {
        mainWindow_.setPathDisplayText(previous);
        return;
    }
    modGlobal::FillAvailableFiles(folderDialog_, mainWindow_);
}
