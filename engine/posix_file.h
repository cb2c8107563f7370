#pragma once

// Thin helpers over POSIX file calls: an owning descriptor, whole writes, and the atomic
// replacement of a file that every copy onto an existing page goes through.

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

namespace posix {

class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    ~FileDescriptor();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and says whether the close succeeded (a late write error shows here).
    bool close();

  private:
    int fd_ = -1;
};

// Opens an ordinary file for reading without blocking on a FIFO or device; anything that
// is not an ordinary file is refused with errno EINVAL. Fills status when given.
FileDescriptor OpenRegularForReading(const std::string& path, struct stat* status = nullptr);

// Writes all bytes, retrying short writes; false with errno set on failure.
bool WriteAll(int fd, const char* data, std::size_t size);

// Reads up to size bytes at offset, retrying on EINTR; -1 on failure.
ssize_t ReadAt(int fd, char* data, std::size_t size, off_t offset);

// Copies source over target so that target is at every moment either its old or its new
// content: the bytes go to a new file in the target's folder, are flushed to disk, get the
// old target's permission bits (and owner and group, where we may), and the new file is
// renamed over the target. A symbolic link as target is followed. A target that does not
// exist yet is created with the source's permission bits. Copying a file onto itself fails
// with errno EEXIST, as the shell's does. Nothing of a failed copy stays behind. The
// folder's own entry list is not flushed here: the rename is atomic either way, and a batch
// flushes its folder once at its end (SyncFolder) rather than once for every file.
bool AtomicCopyFile(const std::string& source, const std::string& target);

// Follows a chain of symbolic links at path to the name that finally holds the data (which
// need not exist yet). Returns path itself when it is not a link.
std::string ResolveLinkTarget(const std::string& path);

// A lock on a folder that one process at a time may hold: two runs in the same folder
// share its temporary file, so they take turns page by page. Released when destroyed or
// when the process ends.
class FolderLock {
  public:
    // False only when another process holds the lock; where a file system cannot lock,
    // the lock counts as taken.
    bool TryLock(const std::string& folder);

  private:
    FileDescriptor fd_;
};

// Flushes a folder's entry list to disk; failures are ignored (not every file system can).
void SyncFolder(const std::string& folder);

} // namespace posix
