#include "cshfileop.h"

#include "disk.h"
#include "new_file.h"
#include "trash.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One file onto a file, replaced atomically with the old target's owner, group (where the
// process may) and permission bits, a link as target followed; or to a new name, with the
// source's permission bits.
int CopyFile(Disk& disk, const std::string& source, const std::string& targetName) {
    std::string target;
    FileDescriptor in;
    struct stat from {};
    if (const int error = ResolveLinkTarget(disk, targetName, target))
        return error;
    if (const int error = disk.OpenForReading(source, in, from))
        return error;
    struct stat existing {};
    const int found = disk.Status(target, existing);
    if (found != 0 && found != ENOENT)
        return found;
    if (found == 0 && !S_ISREG(existing.st_mode))
        return S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
    if (found == 0 && SameFile(existing, from))
        return EEXIST; // a file copied onto itself
    NewFile file(disk);
    int error = file.Create(FolderOf(target));
    if (error == 0)
        error = disk.CopyAll(in.get(), file.fd());
    if (error == 0)
        error = found == 0 ? file.TakeOwnerAndModeOf(existing, false) : file.TakeModeOf(from);
    if (error == 0)
        error = file.Sync();
    return error != 0 ? error : file.Publish(target);
}

// Copies the item at from (a file, a link as a link, a folder with everything in it) to
// the new name to.
int CopyTree(Disk& disk, const std::string& from, const std::string& to) {
    struct stat item {};
    if (const int error = disk.Status(from, item, false))
        return error;
    if (S_ISLNK(item.st_mode)) {
        std::string target;
        const int error = disk.ReadLink(from, target);
        return error != 0 ? error : disk.MakeLink(target, to);
    }
    if (!S_ISDIR(item.st_mode)) {
        FileDescriptor in;
        FileDescriptor out;
        struct stat status {};
        int error = disk.OpenForReading(from, in, status);
        if (error == 0)
            error =
                disk.Open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, item.st_mode & 07777, out);
        if (error == 0)
            error = disk.CopyAll(in.get(), out.get());
        return error != 0 ? error : out.close();
    }
    std::vector<FolderEntry> entries;
    int error = disk.MakeFolder(to, (item.st_mode & 07777) | 0700);
    if (error == 0)
        error = disk.List(from, entries);
    for (std::size_t i = 0; error == 0 && i < entries.size(); ++i)
        error = CopyTree(disk, from + "/" + entries[i].name, to + "/" + entries[i].name);
    return error != 0 ? error : disk.ChangeModeOf(to, item.st_mode & 07777);
}

// Removes the item at path, a folder with everything in it.
int RemoveTree(Disk& disk, const std::string& path) {
    struct stat item {};
    if (const int error = disk.Status(path, item, false))
        return error;
    // A plain unlink for anything but a folder: one that became a folder since the look
    // above is refused by the system, never emptied.
    if (!S_ISDIR(item.st_mode))
        return disk.Unlink(path);
    std::vector<FolderEntry> entries;
    int error = disk.List(path, entries);
    for (std::size_t i = 0; error == 0 && i < entries.size(); ++i)
        error = RemoveTree(disk, path + "/" + entries[i].name);
    return error != 0 ? error : disk.RemoveFolder(path);
}

// A folder with everything in it to a new name, which it takes complete or not at all.
int CopyFolder(Disk& disk, const std::string& source, const std::string& target) {
    const std::string staged = HiddenNameIn(FolderOf(target));
    int result = CopyTree(disk, source, staged);
    if (result == 0)
        result = disk.Rename(staged, target, true);
    if (result != 0)
        (void)RemoveTree(disk, staged);
    return result;
}

// The first of name, "name (2)", "name (3)"... that nothing in its folder has yet.
std::string FreeName(Disk& disk, const std::string& name, bool folder) {
    struct stat taken {};
    std::string candidate = name;
    for (int number = 2; disk.Status(candidate, taken, false) == 0 && number < 100000; ++number)
        candidate = FolderOf(name) + "/" + NumberedName(LastComponent(name), number, folder);
    return candidate;
}

bool IsFolder(Disk& disk, const std::string& path) {
    struct stat status {};
    return disk.Status(path, status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

std::string NumberedName(const std::string& name, int number, bool folder) {
    if (number <= 1)
        return name;
    const std::size_t dot = folder ? std::string::npos : name.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    const std::string stem = extension ? name.substr(0, dot) : name;
    return stem + " (" + std::to_string(number) + ")" + (extension ? name.substr(dot) : "");
}

CSHFileOp::CSHFileOp(Disk& disk)
    : disk_(disk), allowUndo_(false), confirmMakeDir_(true), confirmOperation_(false),
      includeDirectories_(true), parentWnd_(0), renameOnCollision_(false), silentMode_(false) {}

void CSHFileOp::AddSourceFile(const std::string& sFilename) {
    if (!sourceFiles_)
        sourceFiles_.emplace();
    sourceFiles_->push_back(sFilename);
}

void CSHFileOp::AddDestFile(const std::string& sFilename) {
    if (!destFiles_)
        destFiles_.emplace();
    destFiles_->push_back(sFilename);
}

std::uint16_t CSHFileOp::Flags() const {
    std::uint16_t flags = 0;
    if (allowUndo_)
        flags |= FOF_ALLOWUNDO;
    if (silentMode_)
        flags |= FOF_SILENT;
    if (renameOnCollision_)
        flags |= FOF_RENAMEONCOLLISION;
    if (!confirmOperation_)
        flags |= FOF_NOCONFIRMATION;
    if (!confirmMakeDir_)
        flags |= FOF_NOCONFIRMMKDIR;
    if (!includeDirectories_)
        flags |= FOF_FILESONLY;
    if (!customText_.empty())
        flags |= FOF_SIMPLEPROGRESS;
    if (destFiles_ && destFiles_->size() > 1)
        flags |= FOF_MULTIDESTFILES;
    return flags;
}

// The progress window, its title and its owner have no counterpart here; creating a
// missing target folder destroys nothing and needs no question. A question before
// replacing or deleting would have nobody to answer it, so it gets the safe answer "no".
bool CSHFileOp::PerformFileOperation(std::uint32_t operation) {
    errorNumber_ = 0;
    errorDescription_.clear();
    if (!sourceFiles_ || sourceFiles_->empty()) {
        errorNumber_ = kNoSourceFiles;
        errorDescription_ = "No source files specified file operation";
        return false;
    }
    const std::vector<std::string>& sources = *sourceFiles_;
    const std::vector<std::string> destinations = destFiles_.value_or(std::vector<std::string>{});
    const bool paired = (Flags() & FOF_MULTIDESTFILES) != 0;
    int error = 0;
    if (operation != FO_DELETE &&
        (destinations.empty() || (paired && destinations.size() != sources.size())))
        error = EINVAL;
    const auto empty = [](const std::string& name) { return name.empty(); };
    if (std::any_of(sources.begin(), sources.end(), empty) ||
        (operation != FO_DELETE && std::any_of(destinations.begin(), destinations.end(), empty)))
        error = ENOENT;
    for (std::size_t i = 0; error == 0 && i < sources.size(); ++i) {
        if (operation == FO_DELETE) {
            error = Delete(sources[i]);
            continue;
        }
        std::string target = destinations[paired ? i : 0];
        // Several sources for one destination go into it, as into any existing folder.
        const bool into = target.back() == '/' || (!paired && sources.size() > 1) ||
                          (operation != FO_RENAME && IsFolder(disk_, target));
        if (into) {
            (void)disk_.MakeFolders(target, 0777);
            target = target + (target.back() == '/' ? "" : "/") + LastComponent(sources[i]);
        }
        error = Transfer(sources[i], target, operation);
    }
    if (error != 0) {
        errorNumber_ = error;
        errorDescription_ = std::strerror(error);
    }
    return error == 0;
}

int CSHFileOp::Transfer(const std::string& source, const std::string& destination,
                        std::uint32_t operation) {
    struct stat item {};
    // A copy reads through a link named as source; a move or rename carries the link.
    if (const int error = disk_.Status(source, item, operation == FO_COPY))
        return error;
    const bool folder = S_ISDIR(item.st_mode);
    if (folder && !includeDirectories_)
        return EISDIR;
    if (const int error = disk_.MakeFolders(FolderOf(destination), 0777))
        return error;
    struct stat taken {};
    const bool collides = disk_.Status(destination, taken, false) == 0;
    const std::string target =
        collides && renameOnCollision_ ? FreeName(disk_, destination, folder) : destination;
    if (collides && !renameOnCollision_ && confirmOperation_)
        return ECANCELED;
    if (operation == FO_RENAME)
        return disk_.Rename(source, target, true);
    if (operation == FO_MOVE) {
        const int error = disk_.Rename(source, target);
        if (error != EXDEV)
            return error;
    }
    const int copied = folder ? CopyFolder(disk_, source, target) : CopyFile(disk_, source, target);
    if (copied != 0 || operation != FO_MOVE)
        return copied;
    return RemoveTree(disk_, source);
}

int CSHFileOp::Delete(const std::string& source) {
    struct stat item {};
    if (const int error = disk_.Status(source, item, false))
        return error;
    if (S_ISDIR(item.st_mode) && !includeDirectories_)
        return EISDIR;
    if (confirmOperation_)
        return ECANCELED;
    if (allowUndo_)
        return trash::MoveToTrash(disk_, source);
    return RemoveTree(disk_, source);
}
