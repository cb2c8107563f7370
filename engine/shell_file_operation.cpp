// ShellFileOperation: the shell's four file operations carried out with POSIX calls, with
// the shell's rules for where items go, what wildcards match and how colliding names are
// changed.

#include "cshfileop.h"
#include "file_list.h"
#include "file_tree.h"
#include "posix_file.h"
#include "trash.h"

#include <cerrno>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace {

using file_tree::FolderOf;
using file_tree::Join;
using file_tree::LastComponent;
using file_tree::WithoutTrailingSlashes;

// Splits a double-NUL buffer back into its names; a buffer that lacks its closing NULs
// ends with its last byte.
std::vector<std::string> NamesOf(const std::string& buffer) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < buffer.size() && buffer[start] != '\0') {
        std::size_t end = buffer.find('\0', start);
        if (end == std::string::npos)
            end = buffer.size();
        names.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The shell's wildcards: "*" stands for any run of characters, "?" for any one, letter case
// is ignored and every other character (brackets and backslashes too) stands for itself.
// "*.*" matches every name, also one without a dot.
bool MatchesWildcard(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*")
        return true;
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string_view::npos;
    std::size_t starMatchEnd = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starMatchEnd = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == '?' || AsciiLower(pattern[p]) == AsciiLower(name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++starMatchEnd;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

int CopyFile(const std::string& source, const std::string& target) {
    if (posix::AtomicCopyFile(source, target))
        return 0;
    return errno != 0 ? errno : EIO;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One item of a copy or move: what goes, and the exact name it is to have.
struct Item {
    std::string source;
    std::string target;
};

class ShellOperation {
  public:
    explicit ShellOperation(SHFileOpStruct& record)
        : record_(record), sources_(NamesOf(record.pFrom)), targets_(NamesOf(record.pTo)) {}

    int Run();

  private:
    bool Has(std::uint16_t flag) const { return (record_.fFlags & flag) != 0; }
    bool UserAgrees();
    int Expand(const std::string& source, std::vector<std::string>& items, bool& wildcard) const;
    int PlanTransfer(std::vector<Item>& items) const;
    int TransferAll(bool move);
    int Transfer(const Item& item, bool move);
    int TransferUnderNewName(const Item& item, bool folder, bool move);
    int RenameAll();
    int DeleteAll();

    SHFileOpStruct& record_;
    const std::vector<std::string> sources_;
    const std::vector<std::string> targets_;
};

// The shell would ask before it replaces a file, merges into a folder or deletes anything,
// unless FOF_NOCONFIRMATION says "yes to all". Here nobody can be asked (no window, maybe
// no user at all), so every such question gets the safe answer "no": that item stays as it
// is, and fAnyOperationsAborted tells the caller that part of the work was refused, just as
// after a user's "no" in the shell's window. Creating a missing target folder destroys
// nothing, so it needs no answer and is done whatever ConfirmMakeDir says.
bool ShellOperation::UserAgrees() {
    if (Has(FOF_NOCONFIRMATION))
        return true;
    record_.fAnyOperationsAborted = 1;
    return false;
}

// The items a source name stands for. A name that exists is taken as it is, even when it
// holds "*" or "?" (Linux allows both in a name); otherwise those in its last component are
// wildcards, and a pattern that matches nothing stands for no item at all.
int ShellOperation::Expand(const std::string& source, std::vector<std::string>& items,
                           bool& wildcard) const {
    const std::string name = WithoutTrailingSlashes(source);
    const std::string last = LastComponent(name);
    // "." and ".." are no items of their own, and the root folder is nothing to move away.
    if (last.empty() || last == "." || last == "..")
        return EINVAL;
    wildcard = false;
    struct stat status {};
    if (::lstat(name.c_str(), &status) == 0) {
        items.push_back(name);
        return 0;
    }
    const int lookup = errno;
    if (lookup != ENOENT || last.find_first_of("*?") == std::string::npos)
        return lookup;

    wildcard = true;
    std::vector<std::string> names;
    if (const int error = file_tree::ListFolder(FolderOf(name), names))
        return error;
    const std::string prefix = name.substr(0, name.size() - last.size());
    std::vector<std::string> matches;
    for (const std::string& candidate : names)
        if (MatchesWildcard(last, candidate) &&
            !(Has(FOF_FILESONLY) && IsFolder(prefix + candidate)))
            matches.push_back(candidate);
    SortFileNames(matches);
    for (const std::string& match : matches)
        items.push_back(prefix + match);
    return 0;
}

// Where each item of a copy or move goes. With FOF_MULTIDESTFILES destination i belongs to
// source i; otherwise the one destination is a folder to receive the items when several
// sources or a wildcard are given, when it ends with "/" or is a folder already, and the new
// name of the single item when not.
int ShellOperation::PlanTransfer(std::vector<Item>& items) const {
    if (targets_.empty())
        return EINVAL;
    const bool paired = Has(FOF_MULTIDESTFILES);
    if (paired && targets_.size() != sources_.size())
        return EINVAL;
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        const std::string& destination = targets_[paired ? i : 0];
        std::vector<std::string> matches;
        bool wildcard = false;
        if (const int error = Expand(sources_[i], matches, wildcard))
            return error;
        const bool intoFolder = wildcard || destination.back() == '/' ||
                                (!paired && (sources_.size() > 1 || IsFolder(destination)));
        for (const std::string& match : matches)
            items.push_back({match, intoFolder ? Join(destination, LastComponent(match))
                                               : WithoutTrailingSlashes(destination)});
    }
    return 0;
}

// Every source is checked before anything changes, so a missing one fails the operation
// with nothing done. After that, as in the shell, the first failure ends the operation and
// what was done before it stays done.
int ShellOperation::TransferAll(bool move) {
    std::vector<Item> items;
    if (const int error = PlanTransfer(items))
        return error;
    for (const Item& item : items)
        if (const int error = Transfer(item, move))
            return error;
    return 0;
}

int ShellOperation::Transfer(const Item& item, bool move) {
    // A copy reads through a link named as source; a move carries the link itself.
    struct stat source {};
    const int found =
        move ? ::lstat(item.source.c_str(), &source) : ::stat(item.source.c_str(), &source);
    if (found != 0)
        return errno;
    const bool folder = S_ISDIR(source.st_mode);
    if (folder && file_tree::IsInside(item.source, item.target))
        return EINVAL; // the shell's "destination is a subfolder of the source"

    std::error_code creation;
    std::filesystem::create_directories(FolderOf(item.target), creation);
    if (creation)
        return creation.value();
    file_tree::Target target;
    if (const int error = file_tree::ProbeTarget(item.target, target))
        return error;
    if (target.taken && Has(FOF_RENAMEONCOLLISION))
        return TransferUnderNewName(item, folder, move);

    if (!target.present) {
        if (move)
            return file_tree::MoveToNewName(item.source, target.resolved);
        if (!folder)
            return CopyFile(item.source, target.resolved);
        std::string staged;
        if (const int error = file_tree::CopyToHiddenName(item.source, FolderOf(target.resolved),
                                                          true, false, staged))
            return error;
        return file_tree::Publish(staged, target.resolved);
    }
    if (file_tree::SameItem(item.source, target.status))
        return EEXIST; // the shell's "source and destination are the same file"
    if (folder != S_ISDIR(target.status.st_mode))
        return folder ? ENOTDIR : EISDIR;
    if (!UserAgrees())
        return 0;
    if (folder)
        return move ? file_tree::MoveIntoFolder(item.source, target.resolved)
                    : file_tree::CopyIntoFolder(item.source, target.resolved);
    if (move)
        return file_tree::MoveReplacing(item.source, item.target);
    return CopyFile(item.source, item.target);
}

// The item goes beside its namesake as "name (2).ext", or the next number that is free. A
// copy is made under a hidden name first, so the chosen name is claimed by a complete item.
int ShellOperation::TransferUnderNewName(const Item& item, bool folder, bool move) {
    const std::string place = FolderOf(item.target);
    const std::string base = LastComponent(item.target);
    if (move)
        return file_tree::MoveUnderFreeName(item.source, place, base, folder, 2);
    std::string staged;
    if (const int error = file_tree::CopyToHiddenName(item.source, place, true, false, staged))
        return error;
    return file_tree::PublishUnderFreeName(staged, place, base, folder, 2);
}

// Source i takes the name destination i, which must not exist; wildcards have no meaning
// here. A rename stays a rename: it does not copy across file systems.
int ShellOperation::RenameAll() {
    if (targets_.size() != sources_.size())
        return EINVAL;
    std::vector<std::string> sources;
    for (const std::string& name : sources_) {
        const std::string source = WithoutTrailingSlashes(name);
        const std::string last = LastComponent(source);
        if (last.empty() || last == "." || last == "..")
            return EINVAL;
        struct stat status {};
        if (::lstat(source.c_str(), &status) != 0)
            return errno;
        sources.push_back(source);
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const std::string& target = targets_[i];
        int error = file_tree::RenameNoReplace(sources[i], target);
        if (error == EEXIST && Has(FOF_RENAMEONCOLLISION)) {
            const bool folder = IsFolder(sources[i]);
            for (int number = 2; error == EEXIST && number <= file_tree::kLastNumber; ++number)
                error = file_tree::RenameNoReplace(
                    sources[i], Join(FolderOf(target), file_tree::NumberedName(
                                                           LastComponent(target), number, folder)));
        }
        if (error)
            return error;
    }
    return 0;
}

// The shell asks once for all items of a delete, so a refusal keeps every one of them.
int ShellOperation::DeleteAll() {
    std::vector<std::string> items;
    for (const std::string& source : sources_) {
        bool wildcard = false;
        if (const int error = Expand(source, items, wildcard))
            return error;
    }
    if (items.empty() || !UserAgrees())
        return 0;
    for (const std::string& item : items) {
        const int error =
            Has(FOF_ALLOWUNDO) ? trash::MoveToTrash(item) : file_tree::RemoveItem(item);
        if (error)
            return error;
    }
    return 0;
}

// The copy that every refreshed page takes: one file over an existing file, no questions.
// It goes straight to the atomic copy, without the general rules' look at every name.
bool IsPlainFileOverFile(const SHFileOpStruct& record, const std::vector<std::string>& sources,
                         const std::vector<std::string>& targets) {
    if (record.wFunc != FO_COPY || sources.size() != 1 || targets.size() != 1 ||
        (record.fFlags & (FOF_NOCONFIRMATION | FOF_RENAMEONCOLLISION)) != FOF_NOCONFIRMATION ||
        sources[0].find_first_of("*?") != std::string::npos || targets[0].empty() ||
        targets[0].back() == '/')
        return false;
    struct stat target {};
    return ::stat(targets[0].c_str(), &target) == 0 && S_ISREG(target.st_mode);
}

int ShellOperation::Run() {
    if (sources_.empty())
        return EINVAL;
    if (IsPlainFileOverFile(record_, sources_, targets_))
        return CopyFile(sources_[0], targets_[0]);
    switch (record_.wFunc) {
    case FO_COPY:
        return TransferAll(false);
    case FO_MOVE:
        return TransferAll(true);
    case FO_RENAME:
        return RenameAll();
    case FO_DELETE:
        return DeleteAll();
    default:
        return EINVAL;
    }
}

} // namespace

int ShellFileOperation(SHFileOpStruct& record) {
    return ShellOperation(record).Run();
}
