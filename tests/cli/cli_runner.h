#pragma once

// Runs reririduruv-cli as a user would, and looks at what a run did to a folder.

#include <string>
#include <vector>

namespace cli_testing {

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the command line with the arguments; stdin is empty, stdout and stderr are kept.
CliResult RunCli(const std::vector<std::string>& arguments);

// Why strace cannot trace here, or "" when it can.
std::string StraceProblem();

// Runs the command line under strace, every system call written to traceLog.
CliResult RunCliTraced(const std::vector<std::string>& arguments, const std::string& traceLog);

// The calls in an strace log that could change a file: opens for writing or creating,
// writes other than to stdout, stderr or a pipe, and every call that names, removes, copies
// into, flushes or changes a file or folder.
std::vector<std::string> ChangingCalls(const std::string& traceLog);

// Every entry below folder (hidden ones included) with its type, size, inode, and
// modification and change times: what any write, replacement or touch would alter.
std::string Snapshot(const std::string& folder);

} // namespace cli_testing
