// reririduruv: the desktop program. Its arguments are read first, then the main window
// shows, with FOLDER chosen when one is given.

#include "frm_main.h"
#include "mod_global.h"

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitOutputLost = 3;

constexpr char kHelp[] =
    "Usage: reririduruv [-platform NAME] [-display DISPLAY] [FOLDER]\n"
    "       reririduruv --help | --version\n"
    "\n"
    "Refreshes the include blocks (<reririduruv=FILE> ... </reririduruv>) of the pages of a\n"
    "folder, in a window.\n"
    "\n"
    "  FOLDER            start with FOLDER chosen, as if picked with Select path\n"
    "  -platform NAME    the Qt platform plugin to show the window with\n"
    "  -display DISPLAY  the X display to show the window on\n"
    "  --help            print this help and exit\n"
    "  --version         print the version and exit\n"
    "\n"
    "Exit status: 0 when the window was closed, 2 for wrong usage or a FOLDER that is not a\n"
    "folder, 3 when this text could not be written.\n";

int Print(const char* text) {
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe is said as any other lost output
    if (std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0)
        return 0;
    std::fprintf(stderr, "reririduruv: could not write the output: %s\n", std::strerror(errno));
    return kExitOutputLost;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "reririduruv: %s\n", message.c_str());
    return kExitUsage;
}

// Reads the program's arguments: what Qt is to see goes to qtArguments, FOLDER to folder.
// Returns the exit status when the program ends here, before the window system is reached,
// so that help, version and wrong usage need no display.
std::optional<int> ReadArguments(int argc, char** argv, std::vector<char*>& qtArguments,
                                 std::optional<std::string>& folder) {
    qtArguments.assign(argv, argv + std::min(argc, 1));
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            if (folder)
                return UsageError("one FOLDER at most, not also " + argument);
            folder = argument;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help") {
            return Print(kHelp);
        } else if (argument == "--version") {
            return Print("reririduruv " RERIRIDURUV_VERSION "\n");
        } else if (argument == "-platform" || argument == "-display") {
            if (i + 1 == argc)
                return UsageError(argument + " needs a value");
            qtArguments.push_back(argv[i]);
            qtArguments.push_back(argv[++i]);
        } else {
            return UsageError("unknown option " + argument + " (reririduruv --help lists them)");
        }
    }
    struct stat status {};
    if (folder && ::stat(folder->c_str(), &status) != 0)
        return UsageError(*folder + ": " + std::strerror(errno));
    if (folder && !S_ISDIR(status.st_mode))
        return UsageError(*folder + ": " + std::strerror(ENOTDIR));
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> qtArguments;
    std::optional<std::string> folder;
    if (const std::optional<int> exitStatus = ReadArguments(argc, argv, qtArguments, folder))
        return *exitStatus;
    int qtCount = static_cast<int>(qtArguments.size());
    qtArguments.push_back(nullptr);
    QApplication application(qtCount, qtArguments.data());
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
    if (folder)
        window.ChooseFolder(*folder);
    return QApplication::exec();
}
