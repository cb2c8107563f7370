// The About box's version line and icon, and where it finds the system information tool.

#include "frm_about.h"
#include "registry.h"
#include "window_support.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;
using namespace window_testing;

namespace {

TEST(About, TheVersionLineTakesTheFourthFieldAsRevision) {
    EXPECT_EQ(VersionLine("1.1.0.3"), "Version 1.1.3");
    EXPECT_EQ(VersionLine("3.04.0.05"), "Version 3.4.5");
    EXPECT_EQ(VersionLine("1.2"), "Version 1.2.0");
    frmAbout about;
    EXPECT_EQ(about.windowTitle(), "About reririDuruv");
    EXPECT_FALSE(Child<QLabel>(&about, "picIcon")->pixmap().isNull());
}

struct ToolRow {
    const char* what;
    std::string store;   // the machine-wide store; TOOLS stands for a folder of the test's
    bool toolInFolder;   // TOOLS/MSINFO32.EXE is there
    QString started;     // the program started, or nothing
    bool really = false; // started for real, not watched
};

TEST(About, TheSystemInformationToolOrTheMessage) {
    TempDir dir;
    const std::string tools = dir / "tools";
    ::mkdir(tools.c_str(), 0755);
    const auto expand = [&](std::string text) {
        for (std::size_t at; (at = text.find("TOOLS")) != std::string::npos;)
            text.replace(at, 5, tools);
        return text;
    };
    const std::string pathKey = "[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\nPATH=";
    const std::string folderKey = "[SOFTWARE\\Microsoft\\Shared Tools Location]\nMSINFO=";
    const ToolRow rows[] = {
        {"location 1", pathKey + "/opt/tool\n", false, "/opt/tool"},
        {"location 1 before 2", pathKey + "/opt/tool\n" + folderKey + "TOOLS\n", true, "/opt/tool"},
        {"location 2 with the tool", folderKey + "TOOLS\n", true, "TOOLS/MSINFO32.EXE"},
        {"location 2 without it", folderKey + "TOOLS\n", false, ""},
        {"zero bytes at location 1", pathKey + "hex(1):\n" + folderKey + "TOOLS\n", true, ""},
        {"a number at location 1", pathKey + "dword:0000002a\n", false, "42"},
        {"location 1 naming nothing", pathKey + "/nonexistent/tool\n", false, "", true},
    };
    for (const ToolRow& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(dir / "machine.ini", expand(row.store));
        Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, dir / "machine.ini");
        ::unlink((tools + "/MSINFO32.EXE").c_str());
        if (row.toolInFolder)
            WriteFile(tools + "/MSINFO32.EXE", "");
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
        const QString expected = QString::fromStdString(expand(row.started.toStdString()));
        EXPECT_EQ(started, expected.isEmpty() ? QStringList{} : QStringList{expected});
        EXPECT_EQ(boxes.texts(), expected.isEmpty()
                                     ? QStringList{"System Information Is Unavailable At This Time"}
                                     : QStringList{});
        for (const MessageBox::Request& box : boxes.shown)
            EXPECT_EQ(box.icon, MessageBox::Icon::None);
    }
}

} // namespace
