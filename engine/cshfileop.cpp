#include "cshfileop.h"

#include "disk.h"
#include "new_file.h"
#include "trash.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

int ErrorOf(const std::error_code& error) {
    return error ? error.value() : 0;
}

// rename(2) that fails with EEXIST instead of replacing an existing target.
int RenameNoReplace(const std::string& source, const std::string& target) {
    return ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0
               ? 0
               : errno;
}

// One file onto a file, replaced atomically with the old target's owner, group (where the
// process may) and permission bits, a link as target followed; or to a new name, with the
// source's permission bits.
int CopyFile(const std::string& source, const std::string& targetName) {
    Disk& disk = RealDisk();
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

// A folder with everything in it to a new name, which it takes complete or not at all.
int CopyFolder(const std::string& source, const std::string& target) {
    const std::string staged = HiddenNameIn(FolderOf(target));
    std::error_code error;
    fs::copy(source, staged, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    const int result = error ? error.value() : RenameNoReplace(staged, target);
    if (result != 0)
        fs::remove_all(staged, error);
    return result;
}

// The first of name, "name (2)", "name (3)"... that nothing in its folder has yet.
std::string FreeName(const std::string& name, bool folder) {
    struct stat taken {};
    std::string candidate = name;
    for (int number = 2; ::lstat(candidate.c_str(), &taken) == 0 && number < 100000; ++number)
        candidate = FolderOf(name) + "/" + NumberedName(LastComponent(name), number, folder);
    return candidate;
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

CSHFileOp::CSHFileOp()
    : allowUndo_(false), confirmMakeDir_(true), confirmOperation_(false), includeDirectories_(true),
      parentWnd_(0), renameOnCollision_(false), silentMode_(false) {}

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
    for (std::size_t i = 0; error == 0 && i < sources.size(); ++i) {
        if (operation == FO_DELETE) {
            error = Delete(sources[i]);
            continue;
        }
        std::string target = destinations[paired ? i : 0];
        // Several sources for one destination go into it, as into any existing folder.
        std::error_code ignored;
        const bool into = target.back() == '/' || (!paired && sources.size() > 1) ||
                          (operation != FO_RENAME && fs::is_directory(target, ignored));
        if (into) {
            fs::create_directories(target, ignored);
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
    if ((operation == FO_COPY ? ::stat(source.c_str(), &item) : ::lstat(source.c_str(), &item)) !=
        0)
        return errno;
    const bool folder = S_ISDIR(item.st_mode);
    if (folder && !includeDirectories_)
        return EISDIR;
    std::error_code error;
    fs::create_directories(FolderOf(destination), error);
    if (error)
        return error.value();
    struct stat taken {};
    const bool collides = ::lstat(destination.c_str(), &taken) == 0;
    const std::string target =
        collides && renameOnCollision_ ? FreeName(destination, folder) : destination;
    if (collides && !renameOnCollision_ && confirmOperation_)
        return ECANCELED;
    if (operation == FO_RENAME)
        return RenameNoReplace(source, target);
    if (operation == FO_MOVE) {
        if (::rename(source.c_str(), target.c_str()) == 0)
            return 0;
        if (errno != EXDEV)
            return errno;
    }
    const int copied = folder ? CopyFolder(source, target) : CopyFile(source, target);
    if (copied != 0 || operation != FO_MOVE)
        return copied;
    fs::remove_all(source, error);
    return ErrorOf(error);
}

int CSHFileOp::Delete(const std::string& source) {
    struct stat item {};
    if (::lstat(source.c_str(), &item) != 0)
        return errno;
    if (S_ISDIR(item.st_mode) && !includeDirectories_)
        return EISDIR;
    if (confirmOperation_)
        return ECANCELED;
    if (allowUndo_)
        return trash::MoveToTrash(source);
    // A plain unlink for anything but a folder: one that became a folder since the look
    // above is refused by the system, never emptied.
    if (!S_ISDIR(item.st_mode))
        return ::unlink(source.c_str()) == 0 ? 0 : errno;
    std::error_code error;
    fs::remove_all(source, error);
    return ErrorOf(error);
}
