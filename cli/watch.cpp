#include "watch.h"

#include "disk.h"
#include "file_list.h"
#include "mod_global.h"
#include "site_run.h"
#include "site_walk.h"
#include "tag_pass.h"
#include "wording.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Saves come in bursts (an editor's temporary file and rename, a sync tool's many files):
// a refresh waits until the files have been quiet this long.
constexpr auto kQuiet = std::chrono::milliseconds(200);

constexpr std::uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE |
                                        IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S]", &local);
    return text;
}

// Watched folders and include files by the one name the system gives them, so that two
// pages that reach one include file by different paths depend on it alike.
std::string Canonical(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::weakly_canonical(path, ignored).string();
}

class SiteWatch {
  public:
    explicit SiteWatch(const CliOptions& options)
        : options_(options), root_(Canonical(options.folder) + "/"),
          patterns_(options.allFiles ? kAllFilesPattern : kHtmlPatterns),
          run_(Watching(options), 0), inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        run_.host().onIncludeNamed = [this](const std::string& page, const std::string& include) {
            includedBy_[Canonical(include)].insert(page);
        };
    }
    ~SiteWatch() { ::close(inotify_); }

    int Run();

  private:
    static CliOptions Watching(CliOptions options) {
        options.onlyChanged = true;
        return options;
    }
    // Lists folder (and, recursively, the folders below it), watches each and adds its
    // pages to the next refresh; after lost events, the root again re-reads the whole site.
    void AddFolder(const std::string& folder);
    void Watch(const std::string& folder);
    // Reads what inotify has; false when the watch must end.
    void ReadEvents();
    void Changed(const std::string& path, bool isFolder);
    // Refreshes the pages waiting for it, with a time stamp line before them.
    void Refresh();
    bool IsPage(const std::string& path) const;

    const CliOptions options_;
    const std::string root_;
    const std::string patterns_;
    SiteRun run_;
    const int inotify_;
    std::map<int, std::string> watched_; // watch descriptor -> folder, with "/"
    std::set<std::string> siteFolders_;
    std::map<std::string, std::set<std::string>> includedBy_; // include -> pages
    std::map<std::string, struct stat> written_;              // pages this watch wrote
    std::set<std::string> missing_;                           // include files reported gone
    std::set<std::string> unwatched_;                         // folders reported unwatchable
    std::set<std::string> toRefresh_;
    Clock::time_point lastEvent_{};
    bool overflowed_ = false;
    bool lost_ = false;
};

void SiteWatch::Watch(const std::string& folder) {
    for (const auto& [wd, path] : watched_)
        if (path == folder)
            return;
    const int wd = ::inotify_add_watch(inotify_, folder.c_str(), kFolderEvents);
    if (wd >= 0)
        watched_[wd] = folder;
    else if (unwatched_.insert(folder).second) // said once
        std::fprintf(stderr, "reririduruv-cli: cannot watch %s: %s\n", folder.c_str(),
                     errno == ENOSPC ? "the system's limit of watches is reached "
                                       "(fs.inotify.max_user_watches)"
                                     : std::strerror(errno));
}

void SiteWatch::AddFolder(const std::string& folder) {
    std::vector<SiteFolder> found;
    (void)ListSite(folder, patterns_, options_.recursive, true, found);
    for (const SiteFolder& each : found) {
        siteFolders_.insert(each.path);
        Watch(each.path);
        for (const std::string& page : each.pages)
            toRefresh_.insert(each.path + page);
    }
}

bool SiteWatch::IsPage(const std::string& path) const {
    const std::string name = LastComponent(path);
    struct stat st {};
    return siteFolders_.count(FolderOf(path) + "/") && !name.empty() && name.front() != '.' &&
           MatchesPatterns(name, patterns_) && ::stat(path.c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

void SiteWatch::Changed(const std::string& path, bool isFolder) {
    struct stat now {};
    const bool exists = ::stat(path.c_str(), &now) == 0;
    // What this watch wrote itself starts nothing.
    if (const auto written = written_.find(path); written != written_.end()) {
        if (exists && Unchanged(written->second, now))
            return;
        written_.erase(written);
    }
    if (isFolder && exists && options_.recursive && siteFolders_.count(FolderOf(path) + "/") &&
        LastComponent(path).front() != '.')
        AddFolder(path + "/");
    if (IsPage(path))
        toRefresh_.insert(path);
    const auto dependents = includedBy_.find(path);
    if (dependents == includedBy_.end())
        return;
    if (exists) {
        missing_.erase(path);
        toRefresh_.insert(dependents->second.begin(), dependents->second.end());
    } else if (missing_.insert(path).second) {
        run_.host().Report(Problem{ProblemKind::MissingInclude, {}, path, ENOENT, 0});
    }
}

void SiteWatch::ReadEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got <= 0)
            return;
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            lastEvent_ = Clock::now();
            if (event->mask & IN_Q_OVERFLOW) {
                overflowed_ = true;
                continue;
            }
            const auto folder = watched_.find(event->wd);
            if (folder == watched_.end())
                continue;
            if (event->mask & IN_IGNORED) {
                struct stat st {};
                if (::stat(folder->second.c_str(), &st) != 0)
                    siteFolders_.erase(folder->second);
                watched_.erase(folder);
                continue;
            }
            if (event->len > 0)
                Changed(folder->second + event->name, (event->mask & IN_ISDIR) != 0);
        }
    }
}

void SiteWatch::Refresh() {
    // Pages are refreshed folder by folder, each folder's in the file list's order.
    std::map<std::string, std::vector<std::string>> byFolder;
    for (const std::string& page : toRefresh_)
        if (IsPage(page))
            byFolder[FolderOf(page) + "/"].push_back(LastComponent(page));
    toRefresh_.clear();
    if (byFolder.empty())
        return;
    std::vector<SiteFolder> site;
    for (auto& [folder, pages] : byFolder) {
        SortFileNames(pages);
        for (const std::string& page : pages)
            for (auto& [include, dependents] : includedBy_)
                dependents.erase(folder + page);
        site.push_back({folder, folder.substr(root_.size()), pages, 0});
    }
    if (!options_.quiet)
        run_.host().PrintLine(Now());
    const RunTotals totals = run_.Refresh(site);
    for (const SiteFolder& folder : site)
        for (const std::string& page : folder.pages)
            for (const std::string& path : {folder.path + page, BackupPathOf(folder.path + page)}) {
                struct stat st {};
                if (::stat(path.c_str(), &st) == 0)
                    written_[path] = st;
            }
    for (const auto& [include, dependents] : includedBy_)
        if (!dependents.empty())
            Watch(FolderOf(include) + "/");
    if (!options_.quiet)
        run_.Close(totals);
    lost_ = run_.host().outputLost();
}

int SiteWatch::Run() {
    if (inotify_ < 0)
        return UsageError(std::string("cannot watch: ") + std::strerror(errno));
    AddFolder(root_);
    Refresh();
    while (!CliHost::AbortSignalled() && !lost_) {
        int timeout = -1; // nothing waits: sleep in the kernel until something happens
        if (!toRefresh_.empty() || overflowed_) {
            const auto quietFor = Clock::now() - lastEvent_;
            if (quietFor >= kQuiet) {
                if (overflowed_)
                    AddFolder(root_);
                overflowed_ = false;
                Refresh();
                continue;
            }
            timeout = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(kQuiet - quietFor).count() +
                1);
        }
        pollfd wait{inotify_, POLLIN, 0};
        if (::poll(&wait, 1, timeout) > 0)
            ReadEvents();
    }
    return lost_ ? kExitOutputLost : kExitAborted;
}

} // namespace

int WatchSite(const CliOptions& options) {
    return SiteWatch(options).Run();
}
