#include "file_tree.h"

#include "posix_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <unistd.h>

namespace file_tree {

namespace {

constexpr char kHiddenPattern[] = "/.reririDuruv-XXXXXX";

// errno, never 0: a call that failed must not read as success.
int LastError() {
    return errno != 0 ? errno : EIO;
}

int ReadLink(const std::string& path, std::string& destination) {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (length < 0)
        return LastError();
    if (static_cast<std::size_t>(length) == sizeof buffer)
        return ENAMETOOLONG;
    destination.assign(buffer, static_cast<std::size_t>(length));
    return 0;
}

// A moved item keeps its times, as it does when rename(2) moves it. A time that cannot be
// kept does not fail the move: the content is what counts.
void KeepTimes(const std::string& path, const struct stat& original) {
    const struct timespec times[2] = {original.st_atim, original.st_mtim};
    (void)::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

int CopyLinkToHiddenName(const std::string& source, const std::string& folder,
                         std::string& staged) {
    std::string destination;
    if (const int error = ReadLink(source, destination))
        return error;
    // symlink(2) has no mkstemp of its own: draw names until one is free.
    static std::mt19937_64 generator{std::random_device{}()};
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = folder + kHiddenPattern;
        for (std::size_t i = name.size() - 6; i < name.size(); ++i)
            name[i] = letters[generator() % (sizeof letters - 1)];
        if (::symlink(destination.c_str(), name.c_str()) == 0) {
            staged = std::move(name);
            return 0;
        }
        if (errno != EEXIST)
            return LastError();
    }
    return EEXIST;
}

// Calls visit(source, target, status) for each entry of sourceFolder, with its status and
// its name in targetFolder; stops at the first error.
template <typename Visit>
int ForEachEntry(const std::string& sourceFolder, const std::string& targetFolder, Visit visit) {
    std::vector<std::string> names;
    if (const int error = ListFolder(sourceFolder, names))
        return error;
    for (const std::string& name : names) {
        const std::string source = Join(sourceFolder, name);
        struct stat status {};
        if (::lstat(source.c_str(), &status) != 0)
            return LastError();
        if (const int error = visit(source, Join(targetFolder, name), status))
            return error;
    }
    return 0;
}

// Fills the new, empty targetFolder with copies of everything in sourceFolder.
int CopyContents(const std::string& sourceFolder, const std::string& targetFolder, bool keepTimes) {
    return ForEachEntry(
        sourceFolder, targetFolder,
        [keepTimes](const std::string& source, const std::string& target,
                    const struct stat& status) {
            int error = 0;
            if (S_ISDIR(status.st_mode)) {
                // Owner-only until filled, so a read-only original can still be copied into.
                if (::mkdir(target.c_str(), 0700) != 0)
                    return LastError();
                error = CopyContents(source, target, keepTimes);
                if (!error && ::chmod(target.c_str(), status.st_mode & 07777) != 0)
                    error = LastError();
            } else if (S_ISREG(status.st_mode)) {
                if (!posix::AtomicCopyFile(source, target))
                    error = LastError();
            } else if (S_ISLNK(status.st_mode)) {
                std::string destination;
                error = ReadLink(source, destination);
                if (!error && ::symlink(destination.c_str(), target.c_str()) != 0)
                    error = LastError();
            } else {
                error = EINVAL; // a device, pipe or socket has no content that could be copied
            }
            if (!error && keepTimes)
                KeepTimes(target, status);
            return error;
        });
}

void OpenUp(const std::string& folder, const struct stat& status) {
    (void)::chmod(folder.c_str(), (status.st_mode & 07777) | S_IRWXU);
    std::vector<std::string> names;
    (void)ListFolder(folder, names);
    for (const std::string& name : names) {
        const std::string child = Join(folder, name);
        struct stat childStatus {};
        if (::lstat(child.c_str(), &childStatus) == 0 && S_ISDIR(childStatus.st_mode))
            OpenUp(child, childStatus);
    }
}

} // namespace

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string FolderOf(const std::string& path) {
    const std::string name = WithoutTrailingSlashes(path);
    const std::size_t slash = name.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return name.substr(0, slash);
}

std::string LastComponent(const std::string& path) {
    const std::string name = WithoutTrailingSlashes(path);
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + '/' + name;
}

std::string NumberedName(const std::string& name, int number, bool folder) {
    if (number <= 1)
        return name;
    const std::string suffix = " (" + std::to_string(number) + ")";
    const std::size_t dot = folder ? std::string::npos : name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

int ListFolder(const std::string& folder, std::vector<std::string>& names) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return LastError();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr)
            return errno;
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
}

int ProbeTarget(const std::string& name, Target& target) {
    target = Target{};
    target.resolved = name;
    struct stat status {};
    if (::lstat(name.c_str(), &status) != 0)
        return errno == ENOENT ? 0 : LastError();
    target.taken = true;
    target.resolved = posix::ResolveLinkTarget(name);
    if (::stat(target.resolved.c_str(), &target.status) == 0) {
        target.present = true;
        return 0;
    }
    // A dangling link is a place to put the item; a loop of links is not.
    return errno == ENOENT ? 0 : LastError();
}

bool SameItem(const std::string& path, const struct stat& other) {
    const auto same = [&other](const struct stat& status) {
        return status.st_dev == other.st_dev && status.st_ino == other.st_ino;
    };
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && same(status))
        return true;
    return ::stat(path.c_str(), &status) == 0 && same(status);
}

bool IsInside(const std::string& folder, const std::string& path) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::canonical(folder, error);
    if (error)
        return false;
    const std::filesystem::path candidate = std::filesystem::weakly_canonical(path, error);
    if (error)
        return false;
    const std::filesystem::path relative = candidate.lexically_relative(base);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

int RenameNoReplace(const std::string& source, const std::string& target) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    // Only where the kernel or the file system cannot honour the flag does the checked, but
    // not atomic, rename below take over.
    if (errno != EINVAL && errno != ENOSYS)
        return LastError();
#endif
    struct stat status {};
    if (::lstat(target.c_str(), &status) == 0)
        return EEXIST;
    if (errno != ENOENT)
        return LastError();
    return ::rename(source.c_str(), target.c_str()) == 0 ? 0 : LastError();
}

int CopyToHiddenName(const std::string& source, const std::string& folder, bool followSource,
                     bool keepTimes, std::string& staged) {
    staged.clear();
    struct stat status {};
    if ((followSource ? ::stat(source.c_str(), &status) : ::lstat(source.c_str(), &status)) != 0)
        return LastError();
    int error = 0;
    if (S_ISDIR(status.st_mode)) {
        std::string pattern = folder + kHiddenPattern;
        if (::mkdtemp(pattern.data()) == nullptr)
            return LastError();
        staged = pattern;
        error = CopyContents(source, staged, keepTimes);
        if (!error && ::chmod(staged.c_str(), status.st_mode & 07777) != 0)
            error = LastError();
    } else if (S_ISREG(status.st_mode)) {
        std::string pattern = folder + kHiddenPattern;
        posix::FileDescriptor reserved(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!reserved.valid())
            return LastError();
        staged = pattern;
        // The atomic copy keeps the bits of the file it replaces: make them the original's.
        if (::fchmod(reserved.get(), status.st_mode & 07777) != 0 || !reserved.close() ||
            !posix::AtomicCopyFile(source, staged))
            error = LastError();
    } else if (S_ISLNK(status.st_mode)) {
        error = CopyLinkToHiddenName(source, folder, staged);
    } else {
        error = EINVAL;
    }
    if (error) {
        if (!staged.empty())
            DiscardCopy(staged);
        staged.clear();
        return error;
    }
    if (keepTimes)
        KeepTimes(staged, status);
    return 0;
}

int Publish(const std::string& staged, const std::string& target) {
    const int error = RenameNoReplace(staged, target);
    if (error)
        DiscardCopy(staged);
    else
        posix::SyncFolder(FolderOf(target));
    return error;
}

// Renames item to the first numbered name from firstNumber on that is free in folder.
int RenameToFreeName(const std::string& item, const std::string& folder, const std::string& base,
                     bool folderItem, int firstNumber) {
    int error = EEXIST;
    for (int number = firstNumber; error == EEXIST && number <= kLastNumber; ++number)
        error = RenameNoReplace(item, Join(folder, NumberedName(base, number, folderItem)));
    return error;
}

int PublishUnderFreeName(const std::string& staged, const std::string& folder,
                         const std::string& base, bool folderItem, int firstNumber) {
    const int error = RenameToFreeName(staged, folder, base, folderItem, firstNumber);
    if (error)
        DiscardCopy(staged);
    else
        posix::SyncFolder(folder);
    return error;
}

// Calls merge(source, target, status, existing) for each entry of sourceFolder, with its
// status and what stands under its name in targetFolder; stops at the first error.
template <typename Merge>
int MergeEntries(const std::string& sourceFolder, const std::string& targetFolder, Merge merge) {
    return ForEachEntry(
        sourceFolder, targetFolder,
        [&merge](const std::string& source, const std::string& target, const struct stat& status) {
            Target existing;
            if (const int error = ProbeTarget(target, existing))
                return error;
            return merge(source, target, status, existing);
        });
}

int CopyIntoFolder(const std::string& sourceFolder, const std::string& targetFolder) {
    return MergeEntries(
        sourceFolder, targetFolder,
        [&](const std::string& source, const std::string& target, const struct stat& status,
            const Target& existing) {
            int error = 0;
            if (S_ISREG(status.st_mode)) {
                // Replaces, follows a link and refuses a folder or the source itself on its own.
                if (!posix::AtomicCopyFile(source, target))
                    error = LastError();
            } else if (S_ISDIR(status.st_mode) && existing.present) {
                if (!S_ISDIR(existing.status.st_mode))
                    error = ENOTDIR;
                else if (SameItem(source, existing.status))
                    error = EEXIST;
                else
                    error = CopyIntoFolder(source, existing.resolved);
            } else if (S_ISDIR(status.st_mode)) {
                std::string staged;
                error = CopyToHiddenName(source, FolderOf(existing.resolved), false, false, staged);
                if (!error)
                    error = Publish(staged, existing.resolved);
            } else if (S_ISLNK(status.st_mode)) {
                // A link copied as a link takes the place of its namesake entry, not of what
                // that entry points to.
                struct stat entry {};
                if (existing.taken && ::lstat(target.c_str(), &entry) == 0 &&
                    S_ISDIR(entry.st_mode))
                    return EISDIR;
                std::string staged;
                error = CopyToHiddenName(source, targetFolder, false, false, staged);
                if (!error && ::rename(staged.c_str(), target.c_str()) != 0) {
                    error = LastError();
                    DiscardCopy(staged);
                }
            } else {
                error = EINVAL;
            }
            return error;
        });
}

int MoveByCopy(const std::string& source, const std::string& target) {
    std::string staged;
    if (const int error = CopyToHiddenName(source, FolderOf(target), false, true, staged))
        return error;
    if (const int error = Publish(staged, target))
        return error;
    // Should this fail, the item stands in both places; nothing is lost.
    return RemoveItem(source);
}

int MoveToNewName(const std::string& source, const std::string& target) {
    const int error = RenameNoReplace(source, target);
    return error == EXDEV ? MoveByCopy(source, target) : error;
}

int MoveUnderFreeName(const std::string& source, const std::string& folder, const std::string& base,
                      bool folderItem, int firstNumber) {
    int error = RenameToFreeName(source, folder, base, folderItem, firstNumber);
    if (error != EXDEV)
        return error;
    std::string staged;
    if ((error = CopyToHiddenName(source, folder, false, true, staged)))
        return error;
    if ((error = PublishUnderFreeName(staged, folder, base, folderItem, firstNumber)))
        return error;
    return RemoveItem(source);
}

int MoveReplacing(const std::string& source, const std::string& target) {
    const std::string resolved = posix::ResolveLinkTarget(target);
    struct stat existing {};
    // rename(2) between two names of one file does nothing and reports success; and a link
    // moved onto the file it points to would leave a link to itself.
    if (::stat(resolved.c_str(), &existing) == 0 && SameItem(source, existing))
        return EEXIST;
    if (::rename(source.c_str(), resolved.c_str()) == 0)
        return 0;
    if (errno != EXDEV)
        return LastError();
    std::string staged;
    if (const int error = CopyToHiddenName(source, FolderOf(resolved), false, true, staged))
        return error;
    if (::rename(staged.c_str(), resolved.c_str()) != 0) {
        const int error = LastError();
        DiscardCopy(staged);
        return error;
    }
    return RemoveItem(source);
}

int MoveIntoFolder(const std::string& sourceFolder, const std::string& targetFolder) {
    const int error = MergeEntries(sourceFolder, targetFolder,
                                   [](const std::string& source, const std::string& target,
                                      const struct stat& status, const Target& existing) {
                                       const bool sourceFolderItem = S_ISDIR(status.st_mode);
                                       const bool targetFolderItem =
                                           existing.present && S_ISDIR(existing.status.st_mode);
                                       if (!existing.present)
                                           return MoveToNewName(source, existing.resolved);
                                       if (sourceFolderItem != targetFolderItem)
                                           return sourceFolderItem ? ENOTDIR : EISDIR;
                                       if (SameItem(source, existing.status))
                                           return EEXIST;
                                       if (sourceFolderItem)
                                           return MoveIntoFolder(source, existing.resolved);
                                       return MoveReplacing(source, target);
                                   });
    if (error)
        return error;
    return ::rmdir(sourceFolder.c_str()) == 0 ? 0 : LastError();
}

int RemoveItem(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return LastError();
    if (!S_ISDIR(status.st_mode))
        return ::unlink(path.c_str()) == 0 ? 0 : LastError();
    std::error_code error;
    std::filesystem::remove_all(path, error);
    return error ? error.value() : 0;
}

void DiscardCopy(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return;
    if (S_ISDIR(status.st_mode))
        OpenUp(path, status);
    (void)RemoveItem(path);
}

} // namespace file_tree
