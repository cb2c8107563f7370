#include "cli_runner.h"

#include "test_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cli_testing {

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;

CliResult RunProgram(const std::vector<std::string>& command) {
    TempDir streams;
    const std::string outPath = streams / "out";
    const std::string errPath = streams / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int in = ::open("/dev/null", O_RDONLY);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::dup2(in, STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : command)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

std::vector<std::string> StraceCommand(const std::string& traceLog) {
    // LeakSanitizer traces the process itself at its exit, which a tracer forbids; the
    // other sanitizer checks stay on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string(asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
        "detect_leaks=0";
    return {"env", "ASAN_OPTIONS=" + asanOptions, "strace", "-f", "-y", "-qq", "-o", traceLog,
            "--"};
}

} // namespace

CliResult RunCli(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{CLI_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command);
}

std::string StraceProblem() {
    TempDir scratch;
    std::vector<std::string> command = StraceCommand(scratch / "probe.log");
    command.push_back("true");
    const CliResult probe = RunProgram(command);
    if (probe.exitCode == 127)
        return "strace is missing: install the Debian package strace (scripts/install-deps.sh)";
    if (probe.exitCode != 0)
        return "strace cannot trace here: " + probe.err;
    return "";
}

CliResult RunCliTraced(const std::vector<std::string>& arguments, const std::string& traceLog) {
    std::vector<std::string> command = StraceCommand(traceLog);
    command.push_back(CLI_PATH);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return RunProgram(command);
}

std::vector<std::string> ChangingCalls(const std::string& traceLog) {
    static const std::set<std::string> changing = {
        "unlink",    "unlinkat",  "rename",      "renameat",        "renameat2",
        "link",      "linkat",    "symlink",     "symlinkat",       "mkdir",
        "mkdirat",   "rmdir",     "mknod",       "mknodat",         "truncate",
        "ftruncate", "fallocate", "chmod",       "fchmod",          "fchmodat",
        "chown",     "fchown",    "fchownat",    "lchown",          "utime",
        "utimes",    "utimensat", "futimesat",   "copy_file_range", "sendfile",
        "splice",    "fsync",     "fdatasync",   "sync_file_range", "setxattr",
        "fsetxattr", "lsetxattr", "removexattr", "fremovexattr",    "lremovexattr"};
    static const std::set<std::string> writes = {"write", "pwrite64", "writev", "pwritev",
                                                 "pwritev2"};
    static const std::set<std::string> opens = {"open", "openat", "openat2", "creat"};
    static const std::regex call("^[0-9]+ +([a-z0-9_]+)\\((.*)$");
    static const std::regex writingOpen("O_WRONLY|O_RDWR|O_CREAT|O_TRUNC|O_TMPFILE");
    // Pipes change no file; the sanitizers' runtime probes memory through one.
    static const std::regex streamOrPipe("^([12]<|[0-9]+<pipe:)");

    std::vector<std::string> found;
    std::ifstream log(traceLog);
    std::string line;
    while (std::getline(log, line)) {
        std::smatch match;
        if (!std::regex_match(line, match, call))
            continue;
        const std::string name = match[1];
        const std::string arguments = match[2];
        if (changing.count(name) > 0 ||
            (opens.count(name) > 0 && std::regex_search(arguments, writingOpen)) ||
            (writes.count(name) > 0 && !std::regex_search(arguments, streamOrPipe)))
            found.push_back(line);
    }
    return found;
}

std::string Snapshot(const std::string& folder) {
    std::string snapshot;
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        paths.push_back(entry.path().string());
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        snapshot += path.substr(folder.size()) + " " + std::to_string(st.st_mode) + " " +
                    std::to_string(st.st_size) + " " + std::to_string(st.st_ino) + " " +
                    std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                    " " + std::to_string(st.st_ctim.tv_sec) + "." +
                    std::to_string(st.st_ctim.tv_nsec) + "\n";
    }
    return snapshot;
}

} // namespace cli_testing
