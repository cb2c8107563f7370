// reririduruv-cli: refreshes the include blocks of a folder's pages, for site builds.

#include "batch_run.h"
#include "cli_host.h"
#include "file_list.h"
#include "mod_global.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

namespace {

constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "reririduruv-cli: %s\n", message.c_str());
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Refreshes the include blocks (<reririduruv=FILE> ... </reririduruv>) of the "
                 "pages of FOLDER with the current content of their include files.",
                 "reririduruv-cli"};
    bool backup = false;
    bool allFiles = false;
    bool check = false;
    std::string logFile;
    std::string folder;
    std::vector<std::string> pages;
    app.add_flag("--backup", backup, "Keep a .bak copy of every page that is replaced");
    app.add_option("--log", logFile,
                   "Append problems to FILE in the error log's format instead of printing them")
        ->type_name("FILE");
    app.add_flag("--all-files", allFiles,
                 "Process every file of FOLDER, not only *.htm, *.html, *.shtml");
    app.add_flag("--check", check,
                 "Change nothing; print the pages whose refresh would change them, exit 1 if any");
    app.add_option("FOLDER", folder, "The folder that holds the pages")->required();
    app.add_option("PAGE", pages, "Pages of FOLDER to refresh, by file name (default: all)");
    app.set_version_flag("--version", "reririduruv-cli " RERIRIDURUV_VERSION);
    app.footer("Exit status: 0 when no page had a problem, 1 when one had (or, with --check, "
               "when a page would change), 2 for wrong usage, 130 when interrupted.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kExitUsage;
    }

    if (!modGlobal::CheckFolderExists(folder))
        return UsageError("folder not found: " + folder);
    folder = modGlobal::AddBackslash(folder);

    std::vector<BatchEntry> entries;
    if (pages.empty()) {
        std::vector<std::string> names;
        if (!ListFiles(folder, allFiles ? kAllFilesPattern : kHtmlPatterns, names))
            return UsageError("cannot read folder: " + folder);
        for (const std::string& name : names)
            entries.push_back({name, true});
    } else {
        for (const std::string& page : pages) {
            if (page.empty() || page.find('/') != std::string::npos)
                return UsageError("a PAGE is a file name in FOLDER, without a folder part: " +
                                  page);
            entries.push_back({page, true});
        }
    }

    if (!logFile.empty())
        modGlobal::SetLogFile(logFile);
    CliHost::Options hostOptions;
    hostOptions.folder = folder;
    hostOptions.backup = backup && !check;
    hostOptions.logToFile = !logFile.empty();
    hostOptions.quietList = check;
    hostOptions.pageCount = static_cast<int>(entries.size());
    CliHost host(hostOptions);
    CliHost::InstallAbortSignals();
    // Past a file-size limit a write should fail and be reported, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);

    PassOptions passOptions;
    passOptions.checkOnly = check;
    const BatchSummary summary = RunBatch(host, entries, passOptions);
    for (const std::string& name : summary.wouldChange)
        std::printf("%s\n", name.c_str());
    std::fflush(stdout);

    if (summary.aborted)
        return kExitAborted;
    if (summary.problems > 0 || !summary.wouldChange.empty())
        return kExitProblems;
    return 0;
}
