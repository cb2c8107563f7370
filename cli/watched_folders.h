#pragma once

// The folders a watch has inotify watches on, each known by the names the watch gave it; the
// road to the site's own folders, opened from the site's folder down, one name at a time,
// never through a symbolic link; and the names an include file is watched by.

#include <compare>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

// A file as the system knows it, whatever its names.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    auto operator<=>(const FileId&) const = default;
};
FileId IdOf(const struct stat& status);

// The pages (names that match patterns, not hidden, ordinary files or links to one) and the
// sub-folders (not hidden, not links) of the open folder, each sorted. 0 or an errno value.
int ListOpenFolder(int folder, const std::string& patterns, std::vector<std::string>& pages,
                   std::vector<std::string>& subFolders);

// The folder that holds a file or a folder (which may end with "/"), ending with "/".
std::string ParentFolder(const std::string& path);

// The one name the system gives a folder (as far as it exists), with "/".
std::string CanonicalFolder(const std::string& folder);
// An include file by its folder's one name and by its own name, which may be a link: two
// pages that reach it by different paths depend on it alike, and a link is watched as
// itself.
std::string IncludeKey(const std::string& path);
// The include's name, then the name each link in turn leads to.
std::vector<std::string> LinkChain(const std::string& key);

class WatchedFolders {
  public:
    WatchedFolders();
    ~WatchedFolders();
    WatchedFolders(const WatchedFolders&) = delete;
    WatchedFolders& operator=(const WatchedFolders&) = delete;

    // The inotify descriptor; -1 when there is none, for the reason error() gives.
    int fd() const { return inotify_; }
    int error() const { return error_; }

    // Watches the site's folder open at fd under the name folder. The watch is the opened
    // folder's, never what the name leads to by now; false when it cannot be watched (said
    // once for each folder).
    bool WatchOpened(int fd, const std::string& folder);
    // Watches folder, links followed; while it is missing, the nearest folder above it that
    // exists, so that its coming back is seen.
    void WatchFollowing(const std::string& folder);
    // Says once for each folder that it cannot be watched, and why.
    void SayUnwatchable(const FileId& id, const std::string& folder, int error);

    // The names of a watch (folders ending with "/"); null for one that is no longer ours.
    const std::set<std::string>* NamesOf(int wd) const;
    // Drops every name that starts with prefix; a watch left without a name is removed.
    void Forget(const std::string& prefix);
    // The watch is gone (IN_IGNORED); its names, which are forgotten.
    std::set<std::string> Gone(int wd);
    // The folder of a watch moved away from its names: the watch is removed.
    void Moved(int wd);

  private:
    void Add(int wd, const std::string& folder);

    const int inotify_;
    const int error_;
    std::map<int, std::set<std::string>> names_;
    std::set<FileId> unwatchable_;
};
