// The About box's version line and icon, and where it finds the system information tool.

#include "frm_about.h"
#include "registry.h"
#include "window_support.h"

#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace window_testing;

namespace {

TEST(About, TheVersionLineTakesTheFourthFieldAsRevision) {
    EXPECT_EQ(VersionLine("1.1.0.3"), "Version 1.1.3");
    EXPECT_EQ(VersionLine("3.04.0.05"), "Version 3.4.5");
    frmAbout about;
    EXPECT_FALSE(Child<QLabel>(&about, "picIcon")->pixmap().isNull());
}

struct ToolRow {
    const char* what;
    std::string store;   // the machine-wide store
    bool toolInFolder;   // the tool is in the folder of the test's own
    std::string started; // the program started, or nothing
    bool really = false; // started for real, not watched
};

TEST(About, TheSystemInformationToolOrTheMessage) {
    TempDir tools;
    const std::string tool = tools / "MSINFO32.EXE";
    const std::string atOne = "[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH=";
    const std::string atTwo = "[SOFTWARE\\Microsoft\\Shared Tools Location]\nMSINFO=" +
                              tools.path().substr(0, tools.path().size() - 1) + "\n";
    const ToolRow rows[] = {
        {"location 1", atOne + "/opt/tool\n", false, "/opt/tool"},
        {"location 2 with the tool", atTwo, true, tool},
        {"location 2 without it", atTwo, false, ""},
        {"zero bytes at location 1", atOne + "hex(1):\n" + atTwo, true, ""},
        {"a number at location 1", atOne + "dword:0000002a\n", false, "42"},
        {"location 1 naming nothing", atOne + "/nonexistent/tool\n", false, "", true},
    };
    for (const ToolRow& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(tools / "machine.ini", row.store);
        Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, tools / "machine.ini");
        ::unlink(tool.c_str());
        if (row.toolInFolder)
            WriteFile(tool, "");
        QStringList started;
        if (!row.really)
            frmAbout::SetProgramStarter([&](const QString& program) {
                started << program;
                return true;
            });
        BoxRecorder boxes;
        frmAbout about;
        Child<QPushButton>(&about, "cmdSysInfo")->click();
        frmAbout::SetProgramStarter(nullptr);
        const bool unavailable = row.started.empty();
        EXPECT_EQ(started,
                  unavailable ? QStringList{} : QStringList{QString::fromStdString(row.started)});
        EXPECT_EQ(boxes.texts(), unavailable
                                     ? QStringList{"System Information Is Unavailable At This Time"}
                                     : QStringList{});
        for (const MessageBox::Request& box : boxes.shown)
            EXPECT_EQ(box.icon, MessageBox::Icon::None);
    }
}

} // namespace
