// Runs the main window's batch over every page of a folder, offscreen, and prints the
// run's wall time in nanoseconds: window_bench FOLDER [--no-events]
// With --no-events the run never lets window events through, which shows what letting
// them through costs.

#include "file_list.h"
#include "frm_main.h"
#include "message_box.h"
#include "registry.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <cstdio>

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setApplicationName("reririDuruv");
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: window_bench FOLDER [--no-events]\n");
        return 2;
    }
    // Keep the benchmark away from the user's own settings.
    QTemporaryDir settings;
    Registry::SetStoreFile(Registry::HKEY_CURRENT_USER,
                           QFile::encodeName(settings.filePath("settings.ini")).toStdString());
    MessageBox::SetAnswerer([](const MessageBox::Request& request) {
        if (request.icon == MessageBox::Icon::Critical)
            std::fprintf(stderr, "problem: %s\n", qPrintable(request.text));
        return MessageBox::Answer::Ok;
    });

    const std::string folder =
        QFile::encodeName(QDir(arguments[1]).absolutePath()).toStdString() + "/";
    std::vector<std::string> names;
    if (ListFiles(folder, kHtmlPatterns, names) != 0) {
        std::fprintf(stderr, "window_bench: cannot read %s\n", folder.c_str());
        return 2;
    }

    frmMain window;
    window.show();
    window.setAvailableFiles(folder, names);
    window.EnableProcessButton();
    if (arguments.contains("--no-events"))
        window.setEventInterval(INT_MAX);
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    window.cmdProcess_Click();
    std::printf("%lld\n", static_cast<long long>(timer.nsecsElapsed()));
    return 0;
}
