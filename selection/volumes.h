#pragma once

// The "drives" of the folder dialog: the mounted file systems a user would pick a folder
// from. Paths are bytes.

#include <string>
#include <vector>

// The root first, then disks, removable media and network shares, but not the kernel's
// and the system's own mounts.
std::vector<std::string> MountedDrives();

// The mount point that holds folder, found from the nearest folder that still exists. A
// folder reached through a link to another file system is shown below the root.
std::string DriveOf(const std::string& folder);

// Absolute, without "." and ".." parts and without a trailing "/" (but for the root);
// empty stays empty.
std::string CleanFolder(const std::string& folder);
// The folder above; "/" for the root and for a folder right below it.
std::string ParentFolder(const std::string& folder);
// True when folder is root or lies below it.
bool IsAtOrBelow(const std::string& folder, const std::string& root);
