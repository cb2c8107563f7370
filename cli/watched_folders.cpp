#include "watched_folders.h"

#include "disk.h"
#include "file_list.h"
#include "mod_global.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                        IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF |
                                        IN_ONLYDIR;

} // namespace

FileId IdOf(const struct stat& status) {
    return {status.st_dev, status.st_ino};
}

int ListOpenFolder(int folder, const std::string& patterns, std::vector<std::string>& pages,
                   std::vector<std::string>& subFolders) {
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        return error;
    }
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name.front() == '.')
            continue;
        // The entry's type is the name's own, a link never counts as a folder.
        struct stat status {};
        const bool folder =
            entry->d_type == DT_DIR ||
            (entry->d_type == DT_UNKNOWN &&
             ::fstatat(::dirfd(dir), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISDIR(status.st_mode));
        if (folder)
            subFolders.push_back(name);
        else if (MatchesPatterns(name, patterns) &&
                 ::fstatat(::dirfd(dir), name.c_str(), &status, 0) == 0 && S_ISREG(status.st_mode))
            pages.push_back(name);
    }
    ::closedir(dir);
    SortFileNames(pages);
    SortFileNames(subFolders);
    return error;
}

std::string ParentFolder(const std::string& path) {
    return modGlobal::AddBackslash(FolderOf(path));
}

std::string CanonicalFolder(const std::string& folder) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    if (error)
        canonical = absolute.lexically_normal();
    return modGlobal::AddBackslash(canonical.string());
}

std::string IncludeKey(const std::string& path) {
    return CanonicalFolder(FolderOf(path)) + LastComponent(path);
}

std::vector<std::string> LinkChain(const std::string& key) {
    std::vector<std::string> chain{key};
    char target[PATH_MAX];
    for (int hop = 0; hop < 40; ++hop) {
        const ssize_t size = ::readlink(chain.back().c_str(), target, sizeof target);
        if (size <= 0)
            break;
        std::string next(target, static_cast<std::size_t>(size));
        if (next.front() != '/')
            next = ParentFolder(chain.back()) + next;
        chain.push_back(IncludeKey(next));
    }
    return chain;
}

WatchedFolders::WatchedFolders()
    : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), error_(inotify_ < 0 ? errno : 0) {}

WatchedFolders::~WatchedFolders() {
    if (inotify_ >= 0)
        ::close(inotify_);
}

void WatchedFolders::Add(int wd, const std::string& folder) {
    names_[wd].insert(folder);
}

bool WatchedFolders::WatchOpened(int fd, const std::string& folder) {
    const int wd = ::inotify_add_watch(inotify_, folder.c_str(), kFolderEvents | IN_DONT_FOLLOW);
    const int error = errno;
    // The name may lead elsewhere by now, a link even above its last component: the watch
    // counts only when it is the opened folder's.
    const std::string opened = "/proc/self/fd/" + std::to_string(fd);
    const int same = wd < 0 ? wd : ::inotify_add_watch(inotify_, opened.c_str(), kFolderEvents);
    if (wd >= 0 && (same < 0 || same == wd)) {
        Add(wd, folder);
        return true;
    }
    for (const int added : {wd, same})
        if (added >= 0 && names_.count(added) == 0)
            ::inotify_rm_watch(inotify_, added);
    if (wd < 0) {
        struct stat status {};
        ::fstat(fd, &status);
        SayUnwatchable(IdOf(status), folder, error);
    }
    return false;
}

void WatchedFolders::WatchFollowing(const std::string& folder) {
    for (std::string at = folder;; at = ParentFolder(at)) {
        const int wd = ::inotify_add_watch(inotify_, at.c_str(), kFolderEvents);
        if (wd >= 0)
            return Add(wd, at);
        const int error = errno;
        if ((error != ENOENT && error != ENOTDIR) || at == "/") {
            // A folder that cannot even be looked at is told apart by its name.
            struct stat status {};
            if (::stat(at.c_str(), &status) != 0)
                status.st_ino = std::hash<std::string>{}(at);
            return SayUnwatchable(IdOf(status), at, error);
        }
    }
}

void WatchedFolders::SayUnwatchable(const FileId& id, const std::string& folder, int error) {
    if (!unwatchable_.insert(id).second)
        return;
    std::fprintf(stderr, "reririduruv-cli: cannot watch %s: %s\n", folder.c_str(),
                 error == ENOSPC ? "the system's limit of watches is reached "
                                   "(fs.inotify.max_user_watches)"
                                 : std::strerror(error));
}

const std::set<std::string>* WatchedFolders::NamesOf(int wd) const {
    const auto found = names_.find(wd);
    return found == names_.end() ? nullptr : &found->second;
}

void WatchedFolders::Forget(const std::string& prefix) {
    for (auto watch = names_.begin(); watch != names_.end();) {
        std::erase_if(watch->second,
                      [&](const std::string& name) { return name.starts_with(prefix); });
        if (!watch->second.empty()) {
            ++watch;
            continue;
        }
        ::inotify_rm_watch(inotify_, watch->first);
        watch = names_.erase(watch);
    }
}

std::set<std::string> WatchedFolders::Gone(int wd) {
    const auto found = names_.find(wd);
    if (found == names_.end())
        return {};
    std::set<std::string> names = std::move(found->second);
    names_.erase(found);
    return names;
}

void WatchedFolders::Moved(int wd) {
    ::inotify_rm_watch(inotify_, wd);
}
