#include "options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fnmatch.h>
#include <iostream>
#include <sys/stat.h>

int UsageError(const std::string& message) {
    std::fprintf(stderr, "reririduruv-cli: %s\n", message.c_str());
    return kExitUsage;
}

bool Excluded(const std::string& relativePath, const std::vector<std::string>& patterns) {
    for (const std::string& pattern : patterns)
        if (::fnmatch(pattern.c_str(), relativePath.c_str(), 0) == 0)
            return true;
    return false;
}

namespace {

// The word as the shell reads it back: in single quotes where it holds anything but
// letters, digits and a few safe marks.
std::string Quoted(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789_-+=/.,:@%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// What is wrong with the folder; empty when nothing is.
std::string WrongFolder(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return errno == ENOENT ? "folder not found: " + folder
                               : "cannot read folder: " + folder + ": " + std::strerror(errno);
    return S_ISDIR(status.st_mode) ? "" : "not a folder: " + folder;
}

// What is wrong with the error log: it must be an ordinary file (or not be there yet), so
// that appending to it can neither block nor go astray.
std::string WrongLog(const std::string& log) {
    struct stat status {};
    if (log.empty() || (::stat(log.c_str(), &status) != 0 && errno == ENOENT))
        return {};
    if (::stat(log.c_str(), &status) != 0)
        return "cannot use the log " + log + ": " + std::strerror(errno);
    if (!S_ISREG(status.st_mode))
        return "the log must be an ordinary file: " + log +
               (S_ISFIFO(status.st_mode)  ? " is a FIFO"
                : S_ISDIR(status.st_mode) ? " is a folder"
                                          : " is a device");
    return {};
}

} // namespace

std::string RefreshCommand(const CliOptions& options) {
    std::string command = "reririduruv-cli";
    if (options.recursive)
        command += " --recursive";
    if (options.allFiles)
        command += " --all-files";
    if (options.backup)
        command += " --backup";
    for (const std::string& pattern : options.exclude)
        command += " --exclude " + Quoted(pattern);
    command += " --only-changed " + Quoted(options.folder);
    if (!options.pages.empty())
        command += " --";
    for (const std::string& page : options.pages)
        command += " " + Quoted(page);
    return command;
}

namespace {

// What is wrong with the options beyond what the parser checks one by one (their
// combinations, a folder that is not there); empty when nothing is. Checked here rather
// than by the parser, which would note each combination in --help's option list.
std::string WrongUsage(const CliOptions& options) {
    if (options.diff && !options.check)
        return "--diff shows what --check finds, so it needs --check";
    if (options.quiet && options.verbose)
        return "--quiet and --verbose exclude each other";
    if (options.recursive && !options.pages.empty())
        return "--recursive takes every page below FOLDER, so no PAGE";
    if (options.watch && (options.check || !options.pages.empty()))
        return "--watch keeps every page of FOLDER refreshed, so no --check and no PAGE";
    for (const std::string& page : options.pages) {
        if (page.empty())
            return "an empty PAGE names no file of FOLDER";
        if (page.find('/') != std::string::npos)
            return "a PAGE is a file name in FOLDER, without a folder part: " + page;
    }
    if (const std::string wrong = WrongFolder(options.folder); !wrong.empty())
        return wrong;
    return WrongLog(options.logFile);
}

// A parser's complaint, with the program's name and a hint at what helps.
int ParseFailure(const CLI::ParseError& error, int argc, char** argv) {
    bool dashed = false;
    for (int i = 1; i < argc; ++i)
        dashed = dashed || (argv[i][0] == '-' && argv[i][1] != '-' && argv[i][1] != '\0' &&
                            std::strchr("rqvwh", argv[i][1]) == nullptr);
    std::fprintf(stderr, "reririduruv-cli: %s\n", error.what());
    if (dashed)
        std::fprintf(stderr, "reririduruv-cli: a FOLDER or PAGE whose name starts with '-' "
                             "goes after '--'\n");
    std::fprintf(stderr, "Try 'reririduruv-cli --help' for more information.\n");
    return kExitUsage;
}

} // namespace

std::optional<CliOptions> ParseOptions(int argc, char** argv, int& exitStatus) {
    CliOptions options;
    CLI::App app{"Refreshes the include blocks (<reririduruv=FILE> ... </reririduruv>) of the "
                 "pages of FOLDER with the current content of their include files.",
                 "reririduruv-cli"};
    app.add_flag("--backup", options.backup, "Keep a .bak copy of every page that is replaced");
    app.add_option("--log", options.logFile,
                   "Append problems to FILE in the error log's format instead of printing them")
        ->type_name("FILE");
    app.add_flag("--all-files", options.allFiles,
                 "Process every file of FOLDER, not only *.htm, *.html, *.shtml");
    app.add_flag("--check", options.check,
                 "Change nothing; print the pages whose refresh would change them, exit 1 if any");
    app.add_flag("-r,--recursive", options.recursive,
                 "Also process every sub-folder of FOLDER (not hidden ones, links not followed)");
    app.add_flag("--only-changed", options.onlyChanged,
                 "Leave up-to-date pages untouched: no backup, no write, modification time kept");
    app.add_flag("--diff", options.diff,
                 "With --check: also print a unified diff of each such page");
    app.add_flag("-q,--quiet", options.quiet, "Print only problems and the summary lines");
    app.add_flag("-v,--verbose", options.verbose, "Also print the status texts of every page");
    app.add_flag("-w,--watch", options.watch,
                 "Refresh what is out of date, then keep refreshing the pages that depend on "
                 "whatever is saved, until interrupted");
    app.add_option("--exclude", options.exclude,
                   "Leave out the pages, and with --recursive the folders, whose path relative "
                   "to FOLDER matches the shell PATTERN (as 'partials/*'); may be repeated")
        ->type_name("PATTERN")
        ->allow_extra_args(false);
    app.add_option("FOLDER", options.folder, "The folder that holds the pages")->required();
    app.add_option("PAGE", options.pages,
                   "Pages of FOLDER to refresh, by file name (default: all)");
    app.set_version_flag("--version", "reririduruv-cli " RERIRIDURUV_VERSION);
    app.footer("Exit status: 0 when no page had a problem; 1 when one had, or, with --check, "
               "when pages are out of date and none has a problem; 2 for wrong usage or a "
               "folder that cannot be read; 3 when the output could not be written; 4 with "
               "--check when a page has a problem that a refresh would not mend; 130 when "
               "interrupted.\nPage names are printed with control characters and the "
               "backslash as C escapes (\\n, \\t, \\\\, \\xNN).");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        exitStatus = app.exit(done);
        // A help or version that nobody can read is not a success.
        if ((std::cout.flush(), !std::cout) || std::fflush(stdout) != 0) {
            std::fprintf(stderr, "reririduruv-cli: could not write the output: %s\n",
                         std::strerror(errno));
            exitStatus = kExitOutputLost;
        }
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        exitStatus = ParseFailure(error, argc, argv);
        return std::nullopt;
    }
    if (const std::string wrong = WrongUsage(options); !wrong.empty()) {
        exitStatus = UsageError(wrong);
        return std::nullopt;
    }
    return options;
}
