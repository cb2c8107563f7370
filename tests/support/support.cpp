#include "support.h"

#include "wording.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "reririduruv-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Make everything removable again, whatever a test did to the permissions.
    namespace fs = std::filesystem;
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored))
        fs::permissions(it->path(), fs::perms::owner_all,
                        fs::perm_options::add | fs::perm_options::nofollow, ignored);
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

struct stat StatusOf(const std::string& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return status;
}

long Modified(const std::string& path) {
    const struct stat status = StatusOf(path);
    return status.st_mtim.tv_sec * 1000000000L + status.st_mtim.tv_nsec;
}

std::string Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.symlink_status().type() != std::filesystem::file_type::directory)
            names.push_back(entry.path().string().substr(folder.size()));
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string& name : names) {
        std::error_code notLink;
        const auto target = std::filesystem::read_symlink(folder + name, notLink);
        listing += (listing.empty() ? "" : " ") + name +
                   (notLink ? "=" + ReadFile(folder + name) : "->" + target.string());
    }
    return listing;
}

Program::Program(const std::vector<std::string>& command) {
    WriteFile(streams_ / "out", "");
    WriteFile(streams_ / "err", "");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(::open((streams_ / "out").c_str(), O_WRONLY), STDOUT_FILENO);
        ::dup2(::open((streams_ / "err").c_str(), O_WRONLY), STDERR_FILENO);
        ::dup2(::open("/dev/null", O_RDONLY), STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& argument : command)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
}

Program::~Program() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

bool Program::WaitForLines(const std::string& prefix, int count) const {
    for (int tries = 0, found = 0; tries < 2000; ++tries, found = 0, ::usleep(10 * 1000)) {
        const std::string text = "\n" + out();
        for (std::size_t at = 0; (at = text.find("\n" + prefix, at)) != std::string::npos; ++at)
            if (++found >= count)
                return true;
    }
    return false;
}

ProgramRun Program::Wait() {
    int status = 0;
    // A program that has not ended within a minute is killed: its status says so.
    for (int tries = 0; ::waitpid(pid_, &status, WNOHANG) == 0; ++tries, ::usleep(10 * 1000))
        if (tries == 6000)
            ::kill(pid_, SIGKILL);
    pid_ = -1;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
            ReadFile(streams_ / "out"), err()};
}

RunOutcome RecordingHost::Run(const std::vector<std::string>& pages) {
    entries.clear();
    const RunOutcome outcome = RunBatch(options, pages, *this);
    if (outcome.aborted)
        entries.push_back(kAbortedLine);
    entries.push_back(ProcessedLine(outcome.processed));
    entries.push_back(SkippedLine(outcome.skipped));
    return outcome;
}

bool RecordingHost::doEvents() {
    if (onDoEvents)
        onDoEvents(*this);
    return abort;
}

void RecordingHost::pageStage(const std::string& page, PageStage stage) {
    events.push_back("stage:" + StatusText(page, stage));
}

void RecordingHost::showProblem(const Problem& problem) {
    reported.push_back(problem);
    problems.push_back(ProblemMessage(problem));
    events.push_back("problem:" + problems.back());
}

void RecordingHost::pageFinished(const PageOutcome& outcome) {
    if (outcome.refreshed >= 0) {
        std::string bytes(1 << 20, '\0');
        const ssize_t got = ::pread(outcome.refreshed, bytes.data(), bytes.size(), 0);
        refreshed.push_back(bytes.substr(0, got < 0 ? 0 : static_cast<std::size_t>(got)));
    }
    entries.push_back(ProcessedEntry(outcome));
    events.push_back("entry:" + entries.back());
}

int FakeDisk::BeforeOn(DiskCall call, int fd) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::string path = paths_.count(fd) ? paths_[fd] : std::string();
    lock.unlock();
    return Before(call, path);
}

void FakeDisk::Opened(int fd, const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    paths_[fd] = path;
}

} // namespace testing_support
