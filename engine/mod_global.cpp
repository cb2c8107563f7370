#include "mod_global.h"

#include <cerrno>
#include <fcntl.h>
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

bool AppendLogLine(const std::string& line, Disk& disk) {
    const std::string folder = FolderOf(logFile);
    if (folder != "." && folder != "/")
        (void)disk.MakeFolders(folder, 0755);
    FileDescriptor log;
    struct stat status {};
    // A FIFO or a device as the log would block the run or swallow its reports.
    if (disk.Open(logFile, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY, 0644, log) != 0 ||
        disk.StatusOf(log.get(), status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // One write call per line: an append of one line is never interleaved with another
    // program's. Where the disk fills in the middle of the line, the torn part is taken back
    // out, so the log keeps whole lines only.
    const std::string record = line + "\r\n";
    std::size_t written = 0;
    if (disk.WriteAll(log.get(), record.data(), record.size(), &written) != 0) {
        struct stat now {};
        if (written > 0 && disk.StatusOf(log.get(), now) == 0)
            (void)disk.Truncate(log.get(), now.st_size - static_cast<off_t>(written));
        return false;
    }
    return log.close() == 0;
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

std::string CEscaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            AppendHex(out, byte);
        } else
            out += c;
    }
    return out;
}

} // namespace modGlobal
