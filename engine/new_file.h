#pragma once

// The new version of a file, made beside it without a name and put in its place by one
// rename, so that a name holds at every instant either its old or its new content,
// whatever happens (a kill, a power loss, a full disk). Nothing of a new file that was not
// put in place stays behind, but the hidden name a killed process may leave between naming
// and renaming. That name carries the file's own inode number, which proves the file ours:
// the next run that writes in that folder removes such leftovers (RemoveLeftovers), and
// only them.

#include "disk.h"

#include <string>
#include <sys/stat.h>

class NewFile {
  public:
    explicit NewFile(Disk& disk) : disk_(disk) {}
    ~NewFile() { Discard(); }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // An empty file in folder, without a name where the file system allows it and under a
    // hidden one of its own where not. It is locked while it lives, so no cleanup takes it
    // away.
    int Create(const std::string& folder);
    int fd() const { return fd_.get(); }
    // A new, nameless file in folder that was made ahead of need, open as fd.
    void Use(FileDescriptor fd, const std::string& folder);

    // Takes on the owner and group of the file described by status, where the process may,
    // and then its permission bits. With groupRequired a group that cannot be kept (one the
    // caller does not belong to) fails, as do permission bits that cannot be kept.
    int TakeOwnerAndModeOf(const struct stat& status, bool groupRequired);
    // Takes on the extended attributes (ACLs among them) of the file open as fromFd; one
    // that cannot be kept fails. Call before TakeOwnerAndModeOf, which settles the mode.
    int TakeExtendedAttributesOf(int fromFd);
    // Only the permission bits, as a copy to a new name has them.
    int TakeModeOf(const struct stat& status);

    // Flushes the content and attributes to the disk.
    int Sync() { return disk_.Sync(fd_.get()); }

    // Puts the file in place of target, replacing what stands there (a symbolic link
    // itself, not what it points to). The file is gone from this object afterwards.
    int Publish(const std::string& target);

    // Removes the file if it was not put in place.
    void Discard();

  private:
    int GiveHiddenName();
    int NameWhenNameless(const std::string& folder);

    Disk& disk_;
    FileDescriptor fd_;
    std::string folder_;
    std::string name_; // empty while it has no name
};

// Removes the new files that interrupted replacements left in folder: regular files whose
// hidden name carries their own inode number. A file that a running replacement still
// holds is left alone, and so is every other file, whatever its name.
void RemoveLeftovers(Disk& disk, const std::string& folder);

// A new hidden name in folder, different at every call (on every thread), for what is
// staged there before it takes its name.
std::string HiddenNameIn(const std::string& folder);
