#include "options.h"

#include "mod_global.h"

#include <CLI/CLI.hpp>
#include <cstdio>

int UsageError(const std::string& message) {
    std::fprintf(stderr, "reririduruv-cli: %s\n", message.c_str());
    return kExitUsage;
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
    for (const std::string& page : options.pages)
        if (page.empty() || page.find('/') != std::string::npos)
            return "a PAGE is a file name in FOLDER, without a folder part: " + page;
    if (!modGlobal::CheckFolderExists(options.folder))
        return "folder not found: " + options.folder;
    return {};
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
    app.add_option("FOLDER", options.folder, "The folder that holds the pages")->required();
    app.add_option("PAGE", options.pages,
                   "Pages of FOLDER to refresh, by file name (default: all)");
    app.set_version_flag("--version", "reririduruv-cli " RERIRIDURUV_VERSION);
    app.footer("Exit status: 0 when no page had a problem, 1 when one had (or, with --check, "
               "when a page would change), 2 for wrong usage, 3 when the output could not be "
               "written, 130 when interrupted.");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        exitStatus = app.exit(done);
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        exitStatus = kExitUsage;
        return std::nullopt;
    }
    if (const std::string wrong = WrongUsage(options); !wrong.empty()) {
        exitStatus = UsageError(wrong);
        return std::nullopt;
    }
    return options;
}
