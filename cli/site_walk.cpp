#include "site_walk.h"

#include "disk.h"
#include "file_list.h"
#include "options.h"

#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <utility>

namespace {

constexpr int kPathFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

class SiteWalk {
  public:
    SiteWalk(const std::string& patterns, const std::vector<std::string>& exclude,
             std::vector<SiteFolder>& folders)
        : patterns_(patterns), exclude_(exclude), folders_(folders) {}

    // Adds folder and everything below it; the errno value when folder cannot be read.
    int Walk(const std::string& path, const std::string& prefix, bool recursive) {
        // A folder mounted below itself would be met again; links are never followed.
        struct stat st {};
        if (recursive && ::stat(path.c_str(), &st) == 0 &&
            !visited_.insert({st.st_dev, st.st_ino}).second)
            return 0;
        SiteFolder folder{path, prefix, {}, 0};
        std::vector<std::string> subFolders;
        int error = ListFiles(path, patterns_, folder.pages);
        if (error == 0 && recursive)
            error = ListSubFolders(path, false, subFolders);
        if (error != 0) {
            if (prefix.empty())
                return error;
            folder.pages.clear();
            folder.error = error;
            folders_.push_back(std::move(folder));
            return 0;
        }
        std::erase_if(folder.pages,
                      [&](const std::string& name) { return Excluded(prefix + name, exclude_); });
        if (prefix.empty() || !folder.pages.empty())
            folders_.push_back(std::move(folder));
        for (const std::string& name : subFolders)
            if (!Excluded(prefix + name, exclude_) && !Excluded(prefix + name + "/", exclude_))
                Walk(path + name + "/", prefix + name + "/", recursive);
        return 0;
    }

  private:
    const std::string& patterns_;
    const std::vector<std::string>& exclude_;
    std::vector<SiteFolder>& folders_;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

} // namespace

int ListSite(const std::string& folder, const std::string& patterns, bool recursive,
             std::vector<SiteFolder>& folders, const std::vector<std::string>& exclude) {
    folders.clear();
    return SiteWalk(patterns, exclude, folders).Walk(folder, "", recursive);
}

int OpenFolderBelow(int at, const std::string& relative) {
    FileDescriptor folder(::openat(at, ".", kPathFlags));
    for (std::size_t start = 0; folder.valid() && start < relative.size();) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        if (end > start)
            folder = FileDescriptor(
                ::openat(folder.get(), relative.substr(start, end - start).c_str(), kPathFlags));
        start = end + 1;
    }
    return folder.release();
}
