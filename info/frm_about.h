#pragma once

// frmAbout: the About box with the program's icon, title, version and copyright, and a
// button that starts the system's information tool, found through the machine-wide
// settings store or, where that names none, on PATH. It is built afresh for each opening.

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Ui {
class frmAbout;
}

// "Version " + major.minor.revision of a four-part version such as "1.1.0.3", the
// revision being its fourth field: "Version 1.1.3". Missing fields count as 0.
QString VersionLine(const QString& fourPartVersion);

class frmAbout : public QDialog {
    Q_OBJECT

  public:
    // Creates the box without an owner and runs its load step.
    frmAbout();
    ~frmAbout() override;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    // Starts the system information tool, or shows "System Information Is Unavailable At
    // This Time"; the box stays open either way.
    void StartSysInfo();

    // Reads a value as text: a REG_SZ value as its text, a REG_DWORD value as its number in
    // decimal; valueText is left as it was for any other type. False, with valueText
    // emptied, when the key or value is missing or its data is longer than 1024 bytes.
    // Data of zero bytes throws std::runtime_error, which StartSysInfo turns into its
    // message.
    static bool GetKeyValue(std::uint32_t root, const std::string& keyName,
                            const std::string& valueName, std::string& valueText);

    // Starts a program without waiting for it; true when it started.
    using ProgramStarter = std::function<bool(const QString& program)>;
    static bool StartDetached(const QString& program);
    // Tests watch the starts through their own starter; an empty one restores StartDetached.
    static void SetProgramStarter(ProgramStarter starter);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::unique_ptr<Ui::frmAbout> ui;
};
