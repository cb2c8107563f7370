#pragma once

// The engine's road to the file system. Every call that looks at, reads or changes a file
// goes through a Disk, which makes the system call and returns 0 or its errno value. A
// test's Disk sees each call before it is made: it can fail it, count it, or change a file
// in between, so faults and concurrent edits become ordinary in-process tests.

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// An open file descriptor, closed when it goes.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    ~FileDescriptor() { close(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now; 0 or the errno of close (a late write error shows here).
    int close();

  private:
    int fd_ = -1;
};

// The kinds of call, for a test that acts on the n-th call of one kind.
enum class DiskCall {
    Open,
    Status,
    Read,
    Write,
    Sync,
    Attributes, // owner, mode and extended attributes
    Link,
    Rename,
    Unlink,
    Lock,
    List,
    Folder, // a folder made or removed
};

struct FolderEntry {
    std::string name;
    unsigned char type; // a dirent d_type: DT_REG, DT_DIR, DT_LNK, DT_UNKNOWN...
};

struct Xattr {
    std::string name;
    std::string value;
};

class Disk {
  public:
    virtual ~Disk() = default;

    int Open(const std::string& path, int flags, mode_t mode, FileDescriptor& fd);
    // A new, nameless file in folder (O_TMPFILE), for reading and writing.
    int OpenNameless(const std::string& folder, FileDescriptor& fd);
    // Opens an ordinary file for reading without blocking on a FIFO or device and fills
    // status; anything that is not an ordinary file is refused (EISDIR, EINVAL).
    int OpenForReading(const std::string& path, FileDescriptor& fd, struct stat& status);
    // stat(2), or lstat(2) when followLinks is false.
    int Status(const std::string& path, struct stat& status, bool followLinks = true);
    int StatusOf(int fd, struct stat& status);
    // Reads from the file's position (offset < 0) or at offset; got 0 is the end.
    int Read(int fd, char* data, std::size_t size, off_t offset, std::size_t& got);
    // Writes all of data; written, where given, tells how much got there before a failure.
    int WriteAll(int fd, const char* data, std::size_t size, std::size_t* written = nullptr);
    // Copies the rest of in to out, in the kernel where it can.
    int CopyAll(int in, int out);
    int Sync(int fd);
    int ChangeOwner(int fd, uid_t owner, gid_t group);
    int ChangeMode(int fd, mode_t mode);
    int ReadAttributes(int fd, std::vector<Xattr>& attributes);
    int WriteAttribute(int fd, const Xattr& attribute);
    int RemoveAttribute(int fd, const std::string& name);
    // Gives the open, nameless file a name (linkat of O_TMPFILE).
    int Link(int fd, const std::string& name);
    // With noReplace an existing to fails with EEXIST instead of being replaced.
    int Rename(const std::string& from, const std::string& to, bool noReplace = false);
    int Unlink(const std::string& path);
    int MakeFolder(const std::string& path, mode_t mode);
    // The folder and every missing folder above it.
    int MakeFolders(const std::string& path, mode_t mode);
    int RemoveFolder(const std::string& path);
    // The text of the symbolic link at path.
    int ReadLink(const std::string& path, std::string& target);
    int MakeLink(const std::string& target, const std::string& path);
    int ChangeModeOf(const std::string& path, mode_t mode);
    // An exclusive flock without waiting: EWOULDBLOCK when another holds it.
    int Lock(int fd);
    int Unlock(int fd);
    // Cuts the file to size bytes (a Write).
    int Truncate(int fd, off_t size);
    // The folder's entries but "." and ".."; an error in the middle is an error.
    int List(const std::string& folder, std::vector<FolderEntry>& entries);

  protected:
    // Called before every call with its kind and the path it concerns; a non-zero errno
    // value fails the call without making it.
    virtual int Before(DiskCall call, const std::string& path);
    // A call on a descriptor: a test's disk names it by the path it was opened with, which
    // Opened tells it; the real disk keeps no such record.
    virtual int BeforeOn(DiskCall call, int fd) {
        (void)fd;
        return Before(call, {});
    }
    virtual void Opened(int fd, const std::string& path) {
        (void)fd;
        (void)path;
    }
};

// The file system as it is.
Disk& RealDisk();

// Device and inode: the same file, whatever its names.
bool SameFile(const struct stat& a, const struct stat& b);
// The same file with the same size, modification time and change time: as far as the
// system can tell, nobody has written it in between.
bool Unchanged(const struct stat& before, const struct stat& now);

// Follows a chain of symbolic links at path to the name that finally holds the data (which
// need not exist yet): path itself when it is not a link. 0, or the errno value of a name
// that could not be looked at.
int ResolveLinkTarget(Disk& disk, const std::string& path, std::string& target);

// The folder part of a path ("." when it has none, "/" for the root) and its last
// component.
std::string FolderOf(const std::string& path);
std::string LastComponent(const std::string& path);
