#include "posix_file.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace posix {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    close();
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileDescriptor::close() {
    if (fd_ < 0)
        return true;
    const int fd = release();
    // Linux releases the descriptor even when close reports EINTR, so never retry.
    return ::close(fd) == 0;
}

FileDescriptor OpenRegularForReading(const std::string& path, struct stat* status) {
    if (path.find('\0') != std::string::npos) {
        errno = EINVAL;
        return {};
    }
    // O_NONBLOCK keeps a FIFO from blocking the open; on an ordinary file it changes nothing.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return fd;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return {};
    }
    if (status != nullptr)
        *status = st;
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t ReadAt(int fd, char* data, std::size_t size, off_t offset) {
    ssize_t n;
    do {
        n = ::pread(fd, data, size, offset);
    } while (n < 0 && errno == EINTR);
    return n;
}

namespace {

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool CopyContent(int in, int out) {
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (n > 0)
                continue;
            if (n == 0)
                return true;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                return false;
            kernelCopy = false; // this pair of files cannot be copied in the kernel
        }
        char chunk[1 << 16];
        const ssize_t n = ::read(in, chunk, sizeof chunk);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!WriteAll(out, chunk, static_cast<std::size_t>(n)))
            return false;
    }
}

std::string RandomSuffix() {
    static std::mt19937_64 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string suffix(8, 'x');
    for (char& c : suffix)
        c = letters[generator() % (sizeof letters - 1)];
    return suffix;
}

// A new, still nameless file in folder where the kernel can do that, so a process killed
// before the rename leaves nothing behind; otherwise a hidden named one.
struct NewFile {
    FileDescriptor fd;
    std::string name; // empty while the file has no name
};

NewFile CreateNewFile(const std::string& folder) {
    NewFile file;
    static const bool procAvailable = ::access("/proc/self/fd", X_OK) == 0;
    if (procAvailable) {
        file.fd = FileDescriptor(::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
        if (file.fd.valid())
            return file;
    }
    std::string pattern = folder + "/.reririDuruv-XXXXXX";
    file.fd = FileDescriptor(::mkostemp(pattern.data(), O_CLOEXEC));
    if (file.fd.valid())
        file.name = pattern;
    return file;
}

bool GiveName(NewFile& file, const std::string& folder) {
    if (!file.name.empty())
        return true;
    const std::string procName = "/proc/self/fd/" + std::to_string(file.fd.get());
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + "/.reririDuruv-" + RandomSuffix();
        if (::linkat(AT_FDCWD, procName.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            file.name = std::move(name);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

std::string ResolveLinkTarget(const std::string& path) {
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n < 0)
            return current;
        std::string target(buffer, static_cast<std::size_t>(n));
        if (target.empty() || target.front() != '/')
            target = FolderOf(current) + "/" + target;
        current = std::move(target);
    }
    return current;
}

bool FolderLock::TryLock(const std::string& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid())
        return true;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK;
    fd_ = std::move(fd);
    return true;
}

void SyncFolder(const std::string& folder) {
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        (void)::fsync(fd.get());
}

bool AtomicCopyFile(const std::string& source, const std::string& targetName) {
    const std::string target = ResolveLinkTarget(targetName);
    struct stat sourceStat {};
    FileDescriptor in = OpenRegularForReading(source, &sourceStat);
    if (!in.valid())
        return false;

    struct stat targetStat {};
    const bool targetExists = ::stat(target.c_str(), &targetStat) == 0;
    // Only a target that is not there may be created; one that cannot be looked at (a loop
    // of links, a folder we may not search) is not replaced blindly.
    if (!targetExists && errno != ENOENT)
        return false;
    if (targetExists) {
        if (!S_ISREG(targetStat.st_mode)) {
            errno = S_ISDIR(targetStat.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        if (targetStat.st_dev == sourceStat.st_dev && targetStat.st_ino == sourceStat.st_ino) {
            errno = EEXIST;
            return false;
        }
    }

    const std::string folder = FolderOf(target);
    NewFile file = CreateNewFile(folder);
    if (!file.fd.valid())
        return false;

    const auto fail = [&file] {
        const int saved = errno;
        file.fd.close();
        if (!file.name.empty())
            ::unlink(file.name.c_str());
        errno = saved;
        return false;
    };

    if (!CopyContent(in.get(), file.fd.get()))
        return fail();
    // Owner first: chown(2) clears the set-user-ID and set-group-ID bits, so the mode must
    // come after it to keep them.
    if (targetExists)
        (void)::fchown(file.fd.get(), targetStat.st_uid, targetStat.st_gid); // only where we may
    const struct stat& modeFrom = targetExists ? targetStat : sourceStat;
    if (::fchmod(file.fd.get(), modeFrom.st_mode & 07777) != 0)
        return fail();
    if (::fsync(file.fd.get()) != 0)
        return fail();
    if (!GiveName(file, folder))
        return fail();
    if (!file.fd.close())
        return fail();
    if (::rename(file.name.c_str(), target.c_str()) != 0)
        return fail();
    return true;
}

} // namespace posix
