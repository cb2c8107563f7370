#include "frm_about.h"

#include "message_box.h"
#include "names.h"
#include "pictures.h"
#include "registry.h"
#include "ui_frmAbout.h"
#include "window.h"

#include <QFile>
#include <QKeyEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace {

// Where the system information tool is recorded in the machine-wide store: its full path,
// or else the folder that holds it.
const std::string kToolPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kToolPathValue = "PATH";
const std::string kToolFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const std::string kToolFolderValue = "MSINFO";
const std::string kToolFileName = "\\MSINFO32.EXE";

// The desktops' own system information programs, in the order they are tried on PATH when
// the store names no tool.
const char* const kToolsOnPath[] = {"hardinfo2", "hardinfo", "kinfocenter", "gnome-system-monitor"};

frmAbout::ProgramStarter programStarter;

// A registry query hands out at most this many bytes; longer data fails the query.
constexpr std::size_t kValueBufferSize = 1024;

// Paths in the store may be written the Windows way; a backslash reads as "/", as it does
// in include names.
QString ProgramPath(std::string path) {
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return ShownName(path);
}

bool IsOrdinaryFile(const QString& path) {
    std::error_code ignored;
    return std::filesystem::is_regular_file(QFile::encodeName(path).toStdString(), ignored);
}

// The program to start, or nothing when no tool can be found.
std::optional<QString> SysInfoProgram() {
    std::string text;
    if (frmAbout::GetKeyValue(Registry::HKEY_LOCAL_MACHINE, kToolPathKey, kToolPathValue, text))
        return ProgramPath(text); // started as it is: a path that names nothing fails to start
    text.clear();
    if (frmAbout::GetKeyValue(Registry::HKEY_LOCAL_MACHINE, kToolFolderKey, kToolFolderValue,
                              text)) {
        // The file name is fixed and has no leading dot, so it is never a hidden file here.
        const QString program = ProgramPath(text + kToolFileName);
        if (IsOrdinaryFile(program))
            return program;
        return std::nullopt;
    }
    for (const char* name : kToolsOnPath) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!found.isEmpty())
            return found;
    }
    return std::nullopt;
}

// The number that a REG_DWORD's bytes hold, lowest byte first.
std::uint32_t DwordOf(const std::string& data) {
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < data.size() && i < 4; ++i)
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    return number;
}

} // namespace

QString VersionLine(const QString& fourPartVersion) {
    const QStringList fields = fourPartVersion.split(QLatin1Char('.'));
    const auto field = [&fields](qsizetype index) {
        return index < fields.size() ? fields[index].toUInt() : 0u;
    };
    return QStringLiteral("Version %1.%2.%3").arg(field(0)).arg(field(1)).arg(field(3));
}

frmAbout::frmAbout() : ui(std::make_unique<Ui::frmAbout>()) {
    ui->setupUi(this);
    SetUpDialog(*this, QSize(382, 267));
    ui->picIcon->setPixmap(ProgramIcon().pixmap(32, 32));

    connect(ui->cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(ui->cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load() {
    setWindowTitle("About " + kProgramTitle);
    ui->lblVersion->setText(VersionLine(QStringLiteral(RERIRIDURUV_VERSION)));
    ui->lblTitle->setText(kProgramTitle);
    FitTexts(*this);
    CentreOnScreen(*this);
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    // Every failure, of any step, ends in the one message.
    try {
        const std::optional<QString> program = SysInfoProgram();
        if (program && (programStarter ? programStarter(*program) : StartDetached(*program)))
            return;
    } catch (const std::exception&) {
    }
    MessageBox::Show("System Information Is Unavailable At This Time", kProgramTitle,
                     MessageBox::Buttons::Ok, MessageBox::Icon::None);
}

bool frmAbout::GetKeyValue(std::uint32_t root, const std::string& keyName,
                           const std::string& valueName, std::string& valueText) {
    // Opening the key asks only to read it: the machine-wide store is read-only here, and
    // the write access the lookup once asked for would fail for every ordinary account.
    const std::optional<Registry::RawValue> value = Registry::ReadValue(root, keyName, valueName);
    if (!value || value->data.size() > kValueBufferSize) {
        valueText.clear();
        return false;
    }
    std::string data = value->data;
    if (data.empty())
        throw std::runtime_error("a value of zero bytes has no last character");
    if (data.back() == '\0')
        data.pop_back();
    switch (value->type) {
    case Registry::REG_SZ:
        valueText = data;
        break;
    case Registry::REG_DWORD:
        valueText = std::to_string(DwordOf(data));
        break;
    default:
        break; // left as the caller passed it
    }
    return true;
}

bool frmAbout::StartDetached(const QString& program) {
    return QProcess::startDetached(program, {});
}

void frmAbout::SetProgramStarter(ProgramStarter starter) {
    programStarter = std::move(starter);
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    // OK is also the cancel button: Esc presses it.
    if (event->key() == Qt::Key_Escape) {
        ui->cmdOK->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
