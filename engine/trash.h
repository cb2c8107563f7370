#pragma once

// The desktop's trash, laid out as the freedesktop.org Trash standard has it, so that
// file managers show a trashed item and can put it back: the item goes to files/ of the
// user's home trash, and info/NAME.trashinfo records where it was and when it went.

#include <string>

class Disk;

namespace trash {

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when that variable is unset, empty or not
// absolute; empty when the user has no home folder.
std::string HomeTrashFolder();

// Moves the item at path (a file, a link or a folder with everything in it) into the home
// trash, under a name of its own there. An item on another file system is refused with
// EXDEV. Returns 0 or an errno value.
int MoveToTrash(Disk& disk, const std::string& path);

} // namespace trash
