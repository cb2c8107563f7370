// reririduruv-cli: refreshes the include blocks of a folder's pages, for site builds.

#include "batch_run.h"
#include "cli_host.h"
#include "file_list.h"
#include "mod_global.h"
#include "site_walk.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kExitProblems = 1;
constexpr int kExitUsage = 2;
constexpr int kExitAborted = 130;

int UsageError(const std::string& message) {
    std::fprintf(stderr, "reririduruv-cli: %s\n", message.c_str());
    return kExitUsage;
}

// What the batches of all folders came to together.
struct RunTotals {
    bool aborted = false;
    int problems = 0;
    std::int64_t processed = 0;
    std::int64_t skipped = 0;
    std::vector<std::string> wouldChange; // relative to the site's folder
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Refreshes the include blocks (<reririduruv=FILE> ... </reririduruv>) of the "
                 "pages of FOLDER with the current content of their include files.",
                 "reririduruv-cli"};
    bool backup = false;
    bool allFiles = false;
    bool check = false;
    bool recursive = false;
    bool onlyChanged = false;
    bool diff = false;
    bool quiet = false;
    bool verbose = false;
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
    app.add_flag("-r,--recursive", recursive,
                 "Also process every sub-folder of FOLDER (not hidden ones, links not followed)");
    app.add_flag("--only-changed", onlyChanged,
                 "Leave up-to-date pages untouched: no backup, no write, modification time kept");
    app.add_flag("--diff", diff, "With --check: also print a unified diff of each such page");
    app.add_flag("-q,--quiet", quiet, "Print only problems and the summary lines");
    app.add_flag("-v,--verbose", verbose, "Also print the status texts of every page");
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
    // Checked here rather than by the parser, which would note them in --help's one-line
    // option list.
    if (diff && !check)
        return UsageError("--diff shows what --check finds, so it needs --check");
    if (quiet && verbose)
        return UsageError("--quiet and --verbose exclude each other");

    if (!modGlobal::CheckFolderExists(folder))
        return UsageError("folder not found: " + folder);
    folder = modGlobal::AddBackslash(folder);

    std::vector<SiteFolder> site;
    if (pages.empty()) {
        if (!ListSite(folder, allFiles ? kAllFilesPattern : kHtmlPatterns, recursive, site))
            return UsageError("cannot read folder: " + folder);
    } else {
        if (recursive)
            return UsageError("--recursive takes every page below FOLDER, so no PAGE");
        for (const std::string& page : pages) {
            if (page.empty() || page.find('/') != std::string::npos)
                return UsageError("a PAGE is a file name in FOLDER, without a folder part: " +
                                  page);
        }
        site.push_back({folder, "", pages, true});
    }
    std::size_t pageCount = 0;
    for (const SiteFolder& siteFolder : site)
        pageCount += siteFolder.pages.size();

    if (!logFile.empty())
        modGlobal::SetLogFile(logFile);
    CliHost::Options hostOptions;
    hostOptions.backup = backup && !check;
    hostOptions.logToFile = !logFile.empty();
    hostOptions.checking = check;
    hostOptions.diff = diff;
    hostOptions.detail = quiet     ? CliHost::Detail::Quiet
                         : verbose ? CliHost::Detail::Verbose
                                   : CliHost::Detail::Normal;
    hostOptions.pageCount = static_cast<int>(pageCount);
    CliHost host(hostOptions);
    CliHost::InstallAbortSignals();
    // Past a file-size limit a write should fail and be reported, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);

    PassOptions passOptions;
    passOptions.checkOnly = check;
    passOptions.onlyChanged = onlyChanged;
    if (diff)
        passOptions.refreshedBytes = host.refreshedBytes();

    // One batch for each folder, run in that folder as if it had been named alone, so
    // include names, the temporary file and the log's run header all belong to it.
    RunTotals totals;
    for (std::size_t i = 0; i < site.size(); ++i) {
        const SiteFolder& siteFolder = site[i];
        if (i > 0 && CliHost::AbortSignalled()) {
            totals.aborted = true;
            break;
        }
        host.SetFolder(siteFolder.path, siteFolder.prefix);
        if (!siteFolder.readable) {
            const std::string message = "Could not read folder " + siteFolder.path;
            ReportProblem(host, message, " -" + message);
            ++totals.problems;
            continue;
        }
        std::vector<BatchEntry> entries;
        for (const std::string& name : siteFolder.pages)
            entries.push_back({name, true});
        const BatchSummary summary = RunBatch(host, entries, passOptions);
        totals.problems += summary.problems;
        totals.processed += host.runState().ProcessedCount;
        totals.skipped += host.runState().SkippedCount;
        for (const std::string& name : summary.wouldChange)
            totals.wouldChange.push_back(siteFolder.prefix + name);
        if (summary.aborted) {
            totals.aborted = true;
            break;
        }
    }
    totals.problems += host.diffProblems();

    // The host holds back each batch's own closing lines; the run's come once, with the
    // totals of all folders.
    if (check) {
        if (hostOptions.detail != CliHost::Detail::Quiet) {
            for (const std::string& name : totals.wouldChange)
                std::printf("%s\n", name.c_str());
        }
    } else {
        if (totals.aborted)
            std::printf(">>processing aborted!\n");
        std::printf(">%lld file(s) processed. \n>%lld file(s) skipped.\n",
                    static_cast<long long>(totals.processed),
                    static_cast<long long>(totals.skipped));
    }
    std::fflush(stdout);

    if (totals.aborted)
        return kExitAborted;
    if (totals.problems > 0 || !totals.wouldChange.empty())
        return kExitProblems;
    return 0;
}
