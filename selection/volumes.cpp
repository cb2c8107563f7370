#include "volumes.h"

#include <QFile>
#include <QSet>
#include <QStorageInfo>
#include <algorithm>
#include <filesystem>
#include <sys/stat.h>

namespace {

std::string RootOf(const QStorageInfo& volume) {
    return CleanFolder(QFile::encodeName(volume.rootPath()).toStdString());
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::string CleanFolder(const std::string& folder) {
    if (folder.empty())
        return folder;
    std::error_code ignored;
    std::string clean = std::filesystem::absolute(folder, ignored).lexically_normal().string();
    while (clean.size() > 1 && clean.back() == '/')
        clean.pop_back();
    return clean;
}

std::string ParentFolder(const std::string& folder) {
    const std::size_t slash = folder.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

bool IsAtOrBelow(const std::string& folder, const std::string& root) {
    if (root == "/")
        return !folder.empty() && folder.front() == '/';
    return folder == root || folder.rfind(root + "/", 0) == 0;
}

std::vector<std::string> MountedDrives() {
    static const QSet<QByteArray> pseudoTypes{
        "autofs",          "binfmt_misc", "bpf",          "cgroup",   "cgroup2", "configfs",
        "debugfs",         "devpts",      "devtmpfs",     "efivarfs", "fusectl", "hugetlbfs",
        "mqueue",          "nsfs",        "proc",         "pstore",   "ramfs",   "rpc_pipefs",
        "securityfs",      "selinuxfs",   "squashfs",     "sysfs",    "tmpfs",   "tracefs",
        "fuse.gvfsd-fuse", "fuse.portal", "fuse.snapfuse"};
    static const char* const systemFolders[] = {"/boot", "/dev", "/proc", "/run", "/snap", "/sys"};
    std::vector<std::string> drives{"/"};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const std::string root = RootOf(volume);
        if (!volume.isValid() || std::find(drives.begin(), drives.end(), root) != drives.end() ||
            pseudoTypes.contains(volume.fileSystemType()) || !IsFolder(root))
            continue;
        // Removable media are mounted below /run/media on some systems.
        const bool systemFolder =
            std::any_of(std::begin(systemFolders), std::end(systemFolders),
                        [&](const char* system) { return IsAtOrBelow(root, system); }) &&
            !IsAtOrBelow(root, "/run/media");
        if (!systemFolder)
            drives.push_back(root);
    }
    std::sort(drives.begin() + 1, drives.end());
    return drives;
}

std::string DriveOf(const std::string& folder) {
    std::string existing = folder;
    while (existing != "/" && !IsFolder(existing))
        existing = ParentFolder(existing);
    struct stat held {};
    if (::stat(existing.c_str(), &held) != 0)
        return "/";
    // The deepest mount point above the folder by name that is also the file system the
    // folder really lies on.
    std::string drive = "/";
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const std::string root = RootOf(volume);
        struct stat mounted {};
        if (root.size() > drive.size() && IsAtOrBelow(folder, root) &&
            ::stat(root.c_str(), &mounted) == 0 && mounted.st_dev == held.st_dev)
            drive = root;
    }
    return drive;
}
