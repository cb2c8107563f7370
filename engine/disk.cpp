#include "disk.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int FileDescriptor::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

int FileDescriptor::close() {
    if (fd_ < 0)
        return 0;
    // Linux releases the descriptor even when close reports EINTR, so never retry.
    return ::close(release()) == 0 ? 0 : errno;
}

namespace {

// errno, never 0: a call that failed must not read as success.
int LastError() {
    return errno != 0 ? errno : EIO;
}

// A NUL would end a name early on its way to the system, which would then answer for
// another name; no file has one in its name.
bool Nameable(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// Writes all of data, going on after short writes and interruptions.
int WriteFully(int fd, const char* data, std::size_t size, std::size_t* written = nullptr) {
    if (written != nullptr)
        *written = 0;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        if (written != nullptr)
            *written += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

int Disk::Before(DiskCall, const std::string&) {
    return 0;
}

int Disk::Open(const std::string& path, int flags, mode_t mode, FileDescriptor& fd) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Open, path))
        return error;
    fd = FileDescriptor(::open(path.c_str(), flags | O_CLOEXEC, mode));
    if (!fd.valid())
        return LastError();
    Opened(fd.get(), path);
    return 0;
}

int Disk::OpenNameless(const std::string& folder, FileDescriptor& fd) {
    return Open(folder, O_TMPFILE | O_RDWR, 0600, fd);
}

int Disk::OpenForReading(const std::string& path, FileDescriptor& fd, struct stat& status) {
    // O_NONBLOCK keeps a FIFO from blocking the open; on an ordinary file it changes nothing.
    if (const int error = Open(path, O_RDONLY | O_NONBLOCK, 0, fd))
        return error;
    if (const int error = StatusOf(fd.get(), status)) {
        fd.close();
        return error;
    }
    if (!S_ISREG(status.st_mode)) {
        fd.close();
        return S_ISDIR(status.st_mode) ? EISDIR : EINVAL;
    }
    return 0;
}

int Disk::Status(const std::string& path, struct stat& status, bool followLinks) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Status, path))
        return error;
    const int result = followLinks ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
    return result == 0 ? 0 : LastError();
}

int Disk::StatusOf(int fd, struct stat& status) {
    if (const int error = BeforeOn(DiskCall::Status, fd))
        return error;
    return ::fstat(fd, &status) == 0 ? 0 : LastError();
}

int Disk::Read(int fd, char* data, std::size_t size, off_t offset, std::size_t& got) {
    got = 0;
    if (const int error = BeforeOn(DiskCall::Read, fd))
        return error;
    for (;;) {
        const ssize_t n = offset < 0 ? ::read(fd, data, size) : ::pread(fd, data, size, offset);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR)
            return LastError();
    }
}

int Disk::WriteAll(int fd, const char* data, std::size_t size, std::size_t* written) {
    if (written != nullptr)
        *written = 0;
    if (const int error = BeforeOn(DiskCall::Write, fd))
        return error;
    return WriteFully(fd, data, size, written);
}

int Disk::CopyAll(int in, int out) {
    if (const int error = BeforeOn(DiskCall::Write, out))
        return error;
    off_t from = 0;
    for (;;) {
        const ssize_t n = ::copy_file_range(in, &from, out, nullptr, 1 << 30, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return LastError();
        break; // this pair of files cannot be copied in the kernel
    }
    char chunk[1 << 16];
    for (;;) {
        const ssize_t n = ::pread(in, chunk, sizeof chunk, from);
        if (n == 0)
            return 0;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastError();
        }
        from += n;
        if (const int error = WriteFully(out, chunk, static_cast<std::size_t>(n)))
            return error;
    }
}

int Disk::Sync(int fd) {
    if (const int error = BeforeOn(DiskCall::Sync, fd))
        return error;
    return ::fsync(fd) == 0 ? 0 : LastError();
}

int Disk::ChangeOwner(int fd, uid_t owner, gid_t group) {
    if (const int error = BeforeOn(DiskCall::Attributes, fd))
        return error;
    return ::fchown(fd, owner, group) == 0 ? 0 : LastError();
}

int Disk::ChangeMode(int fd, mode_t mode) {
    if (const int error = BeforeOn(DiskCall::Attributes, fd))
        return error;
    return ::fchmod(fd, mode) == 0 ? 0 : LastError();
}

int Disk::ReadAttributes(int fd, std::vector<Xattr>& attributes) {
    attributes.clear();
    if (const int error = BeforeOn(DiskCall::Attributes, fd))
        return error;
    const ssize_t listSize = ::flistxattr(fd, nullptr, 0);
    if (listSize < 0)
        return errno == ENOTSUP ? 0 : LastError(); // a file system without them has none
    std::string names(static_cast<std::size_t>(listSize), '\0');
    const ssize_t got = ::flistxattr(fd, names.data(), names.size());
    if (got < 0)
        return LastError(); // ERANGE: one was added in between; the caller may try again
    names.resize(static_cast<std::size_t>(got));
    for (std::size_t start = 0; start < names.size();) {
        const std::string name = names.c_str() + start;
        start += name.size() + 1;
        const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0)
            return LastError();
        std::string value(static_cast<std::size_t>(size), '\0');
        const ssize_t read = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (read < 0)
            return LastError();
        value.resize(static_cast<std::size_t>(read));
        attributes.push_back({name, std::move(value)});
    }
    return 0;
}

int Disk::WriteAttribute(int fd, const Xattr& attribute) {
    if (const int error = BeforeOn(DiskCall::Attributes, fd))
        return error;
    return ::fsetxattr(fd, attribute.name.c_str(), attribute.value.data(), attribute.value.size(),
                       0) == 0
               ? 0
               : LastError();
}

int Disk::RemoveAttribute(int fd, const std::string& name) {
    if (const int error = BeforeOn(DiskCall::Attributes, fd))
        return error;
    return ::fremovexattr(fd, name.c_str()) == 0 ? 0 : LastError();
}

int Disk::Link(int fd, const std::string& name) {
    if (const int error = Before(DiskCall::Link, name))
        return error;
    if (::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
        return 0;
    // AT_EMPTY_PATH needs a privilege; the descriptor's /proc entry does not.
    if (errno != ENOENT && errno != EPERM)
        return LastError();
    const std::string procName = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, procName.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0
               ? 0
               : LastError();
}

int Disk::Rename(const std::string& from, const std::string& to, bool noReplace) {
    if (!Nameable(from) || !Nameable(to))
        return ENOENT;
    if (const int error = Before(DiskCall::Rename, to))
        return error;
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                       noReplace ? RENAME_NOREPLACE : 0) == 0
               ? 0
               : LastError();
}

int Disk::Unlink(const std::string& path) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Unlink, path))
        return error;
    return ::unlink(path.c_str()) == 0 ? 0 : LastError();
}

int Disk::MakeFolder(const std::string& path, mode_t mode) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Folder, path))
        return error;
    return ::mkdir(path.c_str(), mode) == 0 ? 0 : LastError();
}

int Disk::MakeFolders(const std::string& path, mode_t mode) {
    struct stat status {};
    if (Status(path, status) == 0)
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    const std::string parent = FolderOf(path);
    if (parent != path && parent != "." && parent != "/")
        if (const int error = MakeFolders(parent, mode))
            return error;
    const int error = MakeFolder(path, mode);
    return error == EEXIST ? 0 : error;
}

int Disk::RemoveFolder(const std::string& path) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Folder, path))
        return error;
    return ::rmdir(path.c_str()) == 0 ? 0 : LastError();
}

int Disk::ReadLink(const std::string& path, std::string& target) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Status, path))
        return error;
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n < 0)
        return LastError();
    if (static_cast<std::size_t>(n) == sizeof buffer)
        return ENAMETOOLONG;
    target.assign(buffer, static_cast<std::size_t>(n));
    return 0;
}

int Disk::MakeLink(const std::string& target, const std::string& path) {
    if (!Nameable(path) || target.find('\0') != std::string::npos)
        return ENOENT;
    if (const int error = Before(DiskCall::Link, path))
        return error;
    return ::symlink(target.c_str(), path.c_str()) == 0 ? 0 : LastError();
}

int Disk::ChangeModeOf(const std::string& path, mode_t mode) {
    if (!Nameable(path))
        return ENOENT;
    if (const int error = Before(DiskCall::Attributes, path))
        return error;
    return ::chmod(path.c_str(), mode) == 0 ? 0 : LastError();
}

int Disk::Lock(int fd) {
    if (const int error = BeforeOn(DiskCall::Lock, fd))
        return error;
    return ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : LastError();
}

int Disk::Unlock(int fd) {
    if (const int error = BeforeOn(DiskCall::Lock, fd))
        return error;
    return ::flock(fd, LOCK_UN) == 0 ? 0 : LastError();
}

int Disk::Truncate(int fd, off_t size) {
    if (const int error = BeforeOn(DiskCall::Write, fd))
        return error;
    return ::ftruncate(fd, size) == 0 ? 0 : LastError();
}

int Disk::List(const std::string& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    if (!Nameable(folder))
        return ENOENT;
    if (const int error = Before(DiskCall::List, folder))
        return error;
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return LastError();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr)
            return errno; // 0 at the end, else the folder could not be read to its end
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.push_back({name, entry->d_type});
    }
}

Disk& RealDisk() {
    static Disk disk;
    return disk;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool Unchanged(const struct stat& before, const struct stat& now) {
    const auto same = [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    };
    return SameFile(before, now) && before.st_size == now.st_size &&
           same(before.st_mtim, now.st_mtim) && same(before.st_ctim, now.st_ctim);
}

int ResolveLinkTarget(Disk& disk, const std::string& path, std::string& target) {
    target = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat status {};
        const int error = disk.Status(target, status, false);
        if (error != 0 || !S_ISLNK(status.st_mode))
            return error == ENOENT ? 0 : error;
        std::string next;
        if (const int error = disk.ReadLink(target, next))
            return error;
        if (next.empty() || next.front() != '/')
            next = FolderOf(target) + "/" + next;
        target = std::move(next);
    }
    return ELOOP;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/', path.find_last_not_of('/'));
    if (slash == std::string::npos)
        return ".";
    const auto end = path.find_last_not_of('/', slash);
    return end == std::string::npos ? "/" : path.substr(0, end + 1);
}

std::string LastComponent(const std::string& path) {
    const auto end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return {};
    const auto slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}
