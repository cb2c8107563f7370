#include "mod_global.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace modGlobal {

namespace {
std::string logFile = "error.log";
}

std::string AddBackslash(const std::string& path) {
    if (!path.empty() && path.back() == '/')
        return path;
    return path + '/';
}

bool CheckFileExists(const std::string& name, Disk& disk) {
    struct stat st {};
    return disk.Status(name, st) == 0 && S_ISREG(st.st_mode);
}

bool CheckFolderExists(const std::string& name) {
    struct stat st {};
    return RealDisk().Status(name, st) == 0 && S_ISDIR(st.st_mode);
}

void SetLogFolder(const std::string& folder) {
    logFile = AddBackslash(folder) + "error.log";
}

void SetLogFile(const std::string& file) {
    logFile = file;
}

bool AppendLogLine(const std::string& line) {
    const std::filesystem::path parent = std::filesystem::path(logFile).parent_path();
    if (!parent.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(parent, ignored);
    }
    const int fd = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    // One write call per line: an append of one line is never interleaved or half-done
    // unless the disk is full, and then we report it.
    const std::string record = line + "\r\n";
    ssize_t written;
    do {
        written = ::write(fd, record.data(), record.size());
    } while (written < 0 && errno == EINTR);
    const bool complete = written == static_cast<ssize_t>(record.size());
    if (!complete && written > 0) {
        // Take the torn line back out so the log keeps whole lines only.
        struct stat st {};
        if (::fstat(fd, &st) == 0)
            (void)::ftruncate(fd, st.st_size - written);
    }
    const bool closed = ::close(fd) == 0;
    return complete && closed;
}

std::string AsciiLowered(std::string text) {
    for (char& c : text)
        c = AsciiLower(c);
    return text;
}

void AppendHex(std::string& text, unsigned char byte) {
    static const char digits[] = "0123456789ABCDEF";
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
}

} // namespace modGlobal
