#pragma once

// What reririduruv-cli was asked to do.

#include <optional>
#include <string>
#include <vector>

struct CliOptions {
    bool backup = false;
    bool allFiles = false;
    bool check = false;
    bool diff = false;
    bool recursive = false;
    bool onlyChanged = false;
    bool quiet = false;
    bool verbose = false;
    bool watch = false;
    std::string logFile; // empty: problems go to stderr
    std::string folder;  // as given
    std::vector<std::string> pages;
    // Shell patterns of paths relative to the folder: matching pages, and with recursive
    // matching folders, are left out.
    std::vector<std::string> exclude;
};

inline constexpr int kExitProblems = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitOutputLost = 3;
// --check: a page has a problem that a refresh would not mend.
inline constexpr int kExitCheckProblems = 4;
inline constexpr int kExitAborted = 130;

// The options of the command line. Nothing when the program is to end at once (--help,
// --version, a usage error, each already answered), with exitStatus set.
std::optional<CliOptions> ParseOptions(int argc, char** argv, int& exitStatus);

// Prints "reririduruv-cli: MESSAGE" on stderr and gives kExitUsage.
int UsageError(const std::string& message);

// True when the path relative to the folder matches one of the shell patterns.
bool Excluded(const std::string& relativePath, const std::vector<std::string>& patterns);

// The command line that refreshes the pages that a check of these options found out of
// date, quoted for the shell.
std::string RefreshCommand(const CliOptions& options);
