#include "frm_main.h"
#include "mod_global.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <csignal>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("reririDuruv");
    // The installed desktop entry, io.github.reririduruv.reririduruv.desktop: desktops take
    // the window's name and icon from it.
    QApplication::setDesktopFileName("io.github.reririduruv.reririduruv");
    // Past a file-size limit a write should fail and be reported, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    modGlobal::SetLogFolder(
        QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
            .toStdString());
    frmMain window;
    window.show();
    return QApplication::exec();
}
