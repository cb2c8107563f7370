#pragma once

// Whole items (a file, a symbolic link, or a folder with everything in it) copied, moved
// and removed for the shell's file operations, with the guarantee those operations give: a
// name that must not be replaced never is, and a copy appears under its name complete or
// not at all. Every function returns 0 on success or an errno value.

#include <string>
#include <sys/stat.h>
#include <vector>

namespace file_tree {

// What stands at a target name. A symbolic link is followed to the name that finally
// holds the data, since an item copied or moved onto a link replaces what it points to.
struct Target {
    bool taken = false;    // some entry has the name, be it only a dangling link
    std::string resolved;  // where the links lead; the name itself when it is no link
    bool present = false;  // something exists at resolved
    struct stat status {}; // of resolved, when present
};
int ProbeTarget(const std::string& name, Target& target);

// The number-th name the shell gives to items that collide on name: name itself, then
// "page (2).html", "page (3).html"... The extension of a folder, and the leading dot of a
// hidden name, stay part of the stem. Numbers stop, with EEXIST, at kLastNumber.
std::string NumberedName(const std::string& name, int number, bool folder);
inline constexpr int kLastNumber = 100000;

// True when path lies anywhere below folder (not when it is folder itself), links resolved.
bool IsInside(const std::string& folder, const std::string& path);

// rename(2) that fails with EEXIST instead of replacing an existing target.
int RenameNoReplace(const std::string& source, const std::string& target);

// True when the item at path, or what a link there points to, is the one described.
bool SameItem(const std::string& path, const struct stat& other);

// The names in a folder, "." and ".." left out, in no particular order.
int ListFolder(const std::string& folder, std::vector<std::string>& names);

// Copies the item at source to a new hidden name in folder, stores that name in staged
// and leaves nothing behind on failure. followSource makes a link as source stand for what
// it points to; inside folders links are always copied as links. keepTimes gives every
// copied item its original's access and modification times, as a move should.
int CopyToHiddenName(const std::string& source, const std::string& folder, bool followSource,
                     bool keepTimes, std::string& staged);

// Gives a staged copy its final name, which must be free; the copy is discarded when that
// fails.
int Publish(const std::string& staged, const std::string& target);

// Publishes a staged copy under the first free numbered name of base in folder, counting
// from firstNumber; the copy is discarded when that fails.
int PublishUnderFreeName(const std::string& staged, const std::string& folder,
                         const std::string& base, bool folderItem, int firstNumber);

// Copies every item of sourceFolder into the existing targetFolder: files replace their
// namesakes (each atomically), sub-folders merge.
int CopyIntoFolder(const std::string& sourceFolder, const std::string& targetFolder);

// Moves the item at source to target, which must not exist; across file systems it is
// copied (times kept) and then removed.
int MoveToNewName(const std::string& source, const std::string& target);

// The cross-file-system half of MoveToNewName, on its own so that it can be tested on a
// single file system.
int MoveByCopy(const std::string& source, const std::string& target);

// Moves the item at source to the first free numbered name of base in folder, counting
// from firstNumber; across file systems by copy and removal.
int MoveUnderFreeName(const std::string& source, const std::string& folder, const std::string& base,
                      bool folderItem, int firstNumber);

// Moves a non-folder item onto an existing non-folder target, replacing it atomically.
int MoveReplacing(const std::string& source, const std::string& target);

// Moves every item of sourceFolder into the existing targetFolder (namesakes replaced,
// sub-folders merged), then removes the emptied sourceFolder.
int MoveIntoFolder(const std::string& sourceFolder, const std::string& targetFolder);

// Removes a file or link, or a folder with everything in it, for good.
int RemoveItem(const std::string& path);

// Removes a copy this process made, even one whose folders were read-only in the original.
void DiscardCopy(const std::string& path);

// The folder part of a path ("." when it has none) and its last component, trailing
// slashes ignored; Join puts a folder and a name together with one "/".
std::string FolderOf(const std::string& path);
std::string LastComponent(const std::string& path);
std::string WithoutTrailingSlashes(std::string path);
std::string Join(const std::string& folder, const std::string& name);

} // namespace file_tree
