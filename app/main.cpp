#include "mod_global.h"

#include <QApplication>
#include <QMainWindow>
#include <QStandardPaths>
#include <csignal>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("reririDuruv");
    // Past a file-size limit a write should fail and be reported, not end the program.
    std::signal(SIGXFSZ, SIG_IGN);
    modGlobal::SetLogFolder(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                                .toLocal8Bit()
                                .toStdString());
    QMainWindow window;
    window.setWindowTitle("reririDuruv");
    window.show();
    return QApplication::exec();
}
