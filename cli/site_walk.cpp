#include "site_walk.h"

#include "file_list.h"

#include <dirent.h>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

using FolderIdentity = std::pair<dev_t, ino_t>;

class SiteWalk {
  public:
    SiteWalk(const std::string& patterns, std::vector<SiteFolder>& folders)
        : patterns_(patterns), folders_(folders) {}

    // Adds folder and everything below it; false when folder cannot be read.
    bool Walk(const std::string& path, const std::string& prefix, bool recursive) {
        // A folder mounted below itself would be met again; links are never followed.
        struct stat st {};
        if (recursive && ::stat(path.c_str(), &st) == 0 &&
            !visited_.insert({st.st_dev, st.st_ino}).second)
            return true;
        SiteFolder folder{path, prefix, {}, true};
        std::vector<std::string> subFolders;
        if (!ListFiles(path, patterns_, folder.pages) ||
            (recursive && !ListSubFolders(path, subFolders))) {
            if (prefix.empty())
                return false;
            folder.pages.clear();
            folder.readable = false;
            folders_.push_back(std::move(folder));
            return true;
        }
        if (prefix.empty() || !folder.pages.empty())
            folders_.push_back(std::move(folder));
        for (const std::string& name : subFolders)
            Walk(path + name + "/", prefix + name + "/", recursive);
        return true;
    }

  private:
    const std::string& patterns_;
    std::vector<SiteFolder>& folders_;
    std::set<FolderIdentity> visited_;
};

} // namespace

bool ListSubFolders(const std::string& folder, std::vector<std::string>& names) {
    names.clear();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return false;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name.front() == '.')
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::lstat((folder + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (isFolder)
            names.push_back(name);
    }
    SortFileNames(names);
    return true;
}

bool ListSite(const std::string& folder, const std::string& patterns, bool recursive,
              std::vector<SiteFolder>& folders) {
    folders.clear();
    return SiteWalk(patterns, folders).Walk(folder, "", recursive);
}
