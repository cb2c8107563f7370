#include "new_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
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

bool IsLeftoverName(const std::string& name) {
    const std::string prefix = kHiddenPrefix;
    if (name.size() < prefix.size() + 6 || name.size() > prefix.size() + 8 ||
        name.compare(0, prefix.size(), prefix) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

} // namespace

std::string HiddenNameIn(const std::string& folder) {
    static std::mt19937_64 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name(8, 'x');
    for (char& c : name)
        c = letters[generator() % (sizeof letters - 1)];
    return folder + "/" + kHiddenPrefix + name;
}

int NewFile::Create(const std::string& folder) {
    Discard();
    folder_ = folder;
    int error = disk_.Open(folder, O_TMPFILE | O_RDWR, 0600, fd_);
    // A file system without nameless files gets a hidden name from the start.
    if (error == EOPNOTSUPP || error == EISDIR || error == EINVAL) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = HiddenNameIn(folder);
            error = disk_.Open(name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, fd_);
            if (error == 0)
                name_ = name;
            if (error != EEXIST)
                break;
        }
    }
    if (error == 0 && disk_.Lock(fd_.get()) == EWOULDBLOCK)
        error = EAGAIN;
    if (error != 0)
        Discard();
    return error;
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
    int error = EEXIST;
    for (int attempt = 0; name_.empty() && error == EEXIST && attempt < 100; ++attempt) {
        const std::string name = HiddenNameIn(folder_);
        if ((error = disk_.Link(fd_.get(), name)) == 0)
            name_ = name;
    }
    return name_.empty() ? error : 0;
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
        if (!IsLeftoverName(entry.name))
            continue;
        const std::string path = folder + "/" + entry.name;
        FileDescriptor fd;
        struct stat status {};
        // A replacement that still runs holds its file locked.
        if (disk.Open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, fd) == 0 &&
            disk.StatusOf(fd.get(), status) == 0 && S_ISREG(status.st_mode) &&
            disk.Lock(fd.get()) == 0)
            (void)disk.Unlink(path);
    }
}
