#include "new_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {

constexpr char kHiddenPrefix[] = ".reririDuruv-";

// The system's own security labels are set by its policy when a file is made; they are
// not the page's to carry over.
bool IsSystemLabel(const std::string& name) {
    return name.rfind("security.", 0) == 0;
}

// The hidden name of the file with inode number inode: the prefix, the number in 16
// hexadecimal digits and, for a second try, a dash and the try's number.
std::string OwnName(ino_t inode, int attempt) {
    char digits[40];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(inode));
    return kHiddenPrefix + std::string(digits) + (attempt > 0 ? "-" + std::to_string(attempt) : "");
}

bool IsOwnName(const std::string& name, ino_t inode) {
    for (int attempt = 0; attempt < 10; ++attempt)
        if (name == OwnName(inode, attempt))
            return true;
    return false;
}

} // namespace

std::string HiddenNameIn(const std::string& folder) {
    // One generator per thread: the flusher's threads name files at the same time.
    thread_local std::mt19937_64 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name(12, 'x');
    for (char& c : name)
        c = letters[generator() % (sizeof letters - 1)];
    return folder + "/" + kHiddenPrefix + "new-" + name;
}

int NewFile::Create(const std::string& folder) {
    Discard();
    folder_ = folder;
    int error = disk_.OpenNameless(folder, fd_);
    // A file system without nameless files gets a hidden name of its own from the start.
    if (error == EOPNOTSUPP || error == EISDIR || error == EINVAL)
        error = NameWhenNameless(folder);
    if (error == 0 && disk_.Lock(fd_.get()) == EWOULDBLOCK)
        error = EAGAIN;
    if (error != 0)
        Discard();
    return error;
}

// Made under a passing name, which is at once replaced by the file's own.
int NewFile::NameWhenNameless(const std::string& folder) {
    int error = EEXIST;
    std::string passing;
    for (int attempt = 0; error == EEXIST && attempt < 100; ++attempt) {
        passing = HiddenNameIn(folder);
        error = disk_.Open(passing, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, fd_);
    }
    if (error != 0)
        return error;
    struct stat status {};
    error = disk_.StatusOf(fd_.get(), status);
    for (int attempt = 0; error == 0 && attempt < 10; ++attempt) {
        const std::string own = folder + "/" + OwnName(status.st_ino, attempt);
        if ((error = disk_.Rename(passing, own, true)) == 0) {
            name_ = own;
            return 0;
        }
        error = error == EEXIST ? 0 : error;
    }
    (void)disk_.Unlink(passing);
    return error != 0 ? error : EEXIST;
}

void NewFile::Use(FileDescriptor fd, const std::string& folder) {
    Discard();
    fd_ = std::move(fd);
    folder_ = folder;
    (void)disk_.Lock(fd_.get());
}

int NewFile::TakeOwnerAndModeOf(const struct stat& status, bool groupRequired) {
    // Owner first: chown(2) clears the set-user-ID and set-group-ID bits, so the mode comes
    // after it. Where the process may not give the file away, the group still counts.
    int error = disk_.ChangeOwner(fd_.get(), status.st_uid, status.st_gid);
    if (error == EPERM)
        error = disk_.ChangeOwner(fd_.get(), static_cast<uid_t>(-1), status.st_gid);
    if (error != 0 && groupRequired)
        return error;
    return TakeModeOf(status);
}

int NewFile::TakeExtendedAttributesOf(int fromFd) {
    std::vector<Xattr> wanted;
    std::vector<Xattr> present;
    int error = disk_.ReadAttributes(fromFd, wanted);
    if (error == 0)
        error = disk_.ReadAttributes(fd_.get(), present);
    if (error != 0)
        return error;
    // The folder may have given the new file attributes of its own, such as a default ACL.
    for (const Xattr& attribute : present) {
        const bool kept = std::any_of(wanted.begin(), wanted.end(),
                                      [&](const Xattr& w) { return w.name == attribute.name; });
        if (!kept && !IsSystemLabel(attribute.name) &&
            (error = disk_.RemoveAttribute(fd_.get(), attribute.name)) != 0)
            return error;
    }
    for (const Xattr& attribute : wanted) {
        error = disk_.WriteAttribute(fd_.get(), attribute);
        if (error != 0 && !IsSystemLabel(attribute.name))
            return error;
    }
    return 0;
}

int NewFile::TakeModeOf(const struct stat& status) {
    return disk_.ChangeMode(fd_.get(), status.st_mode & 07777);
}

int NewFile::GiveHiddenName() {
    if (!name_.empty())
        return 0;
    struct stat status {};
    int error = disk_.StatusOf(fd_.get(), status);
    for (int attempt = 0; error == 0 && attempt < 10; ++attempt) {
        const std::string name = folder_ + "/" + OwnName(status.st_ino, attempt);
        if ((error = disk_.Link(fd_.get(), name)) == 0) {
            name_ = name;
            return 0;
        }
        error = error == EEXIST ? 0 : error;
    }
    return error != 0 ? error : EEXIST;
}

int NewFile::Publish(const std::string& target) {
    int error = GiveHiddenName();
    if (error == 0)
        error = disk_.Rename(name_, target);
    if (error != 0)
        return error;
    name_.clear();
    fd_.close();
    return 0;
}

void NewFile::Discard() {
    if (!name_.empty())
        (void)disk_.Unlink(name_);
    name_.clear();
    fd_.close();
}

void RemoveLeftovers(Disk& disk, const std::string& folder) {
    std::vector<FolderEntry> entries;
    if (disk.List(folder, entries) != 0)
        return;
    for (const FolderEntry& entry : entries) {
        if (entry.name.rfind(kHiddenPrefix, 0) != 0)
            continue;
        const std::string path = folder + "/" + entry.name;
        FileDescriptor fd;
        struct stat status {};
        struct stat named {};
        // Ours: a regular file of one name that carries its inode number, the same file
        // under that name still, and not held by a replacement that still runs.
        if (disk.Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, fd) == 0 &&
            disk.StatusOf(fd.get(), status) == 0 && S_ISREG(status.st_mode) &&
            status.st_nlink == 1 && IsOwnName(entry.name, status.st_ino) &&
            disk.Lock(fd.get()) == 0 && disk.Status(path, named, false) == 0 &&
            SameFile(named, status))
            (void)disk.Unlink(path);
    }
}
