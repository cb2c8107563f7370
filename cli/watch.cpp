#include "watch.h"

#include "disk.h"
#include "file_list.h"
#include "mod_global.h"
#include "site_run.h"
#include "site_walk.h"
#include "tag_pass.h"
#include "watched_folders.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Saves come in bursts (an editor's temporary file and rename, a sync tool's many files): a
// refresh waits until they have been quiet this long, but never longer than kLongest after
// the first of them, so saves that go on do not hold it back for ever.
constexpr auto kQuiet = std::chrono::milliseconds(200);
constexpr auto kLongest = std::chrono::seconds(1);

std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S]", &local);
    return text;
}

class SiteWatch {
  public:
    explicit SiteWatch(const CliOptions& options);

    int Run();

  private:
    struct Include {
        std::set<std::string> pages;    // the pages that name it
        std::vector<std::string> chain; // LinkChain, as last watched
    };

    static CliOptions Watching(CliOptions options) {
        options.onlyChanged = true;
        return options;
    }
    // Opens and watches the site's folder, and lists its pages for the first refresh; the
    // exit status when it cannot.
    int Start();
    // Watches the site's folder open at fd and, recursively, the folders below it, and adds
    // their pages to the next refresh; the errno value of a folder that cannot be listed.
    // above: the folders it lies in, so that one mounted below itself is not met again.
    int AddFolder(int fd, const std::string& folder, std::vector<FileId>& above);
    std::vector<FileId> FoldersAbove(const std::string& folder) const;
    // The site's folder has gone from its place, and with it everything below.
    void ForgetFolder(const std::string& folder);
    // The site's folder at folder (root_ or below it), opened from the site's folder down
    // and through no link; invalid when the site's folder is not the one watched any more.
    FileDescriptor OpenSiteFolder(const std::string& folder) const;
    // True while the name leads to the folder watched under it.
    bool StillThere(const std::string& folder) const;
    void Rescan();

    // Reads what inotify has; each event that counts as a save moves the refresh on.
    void ReadEvents();
    bool Handle(const inotify_event& event);
    bool Changed(const std::string& path, std::uint32_t mask);
    bool SubFolderChanged(const std::string& path, std::uint32_t mask);
    bool IncludesChanged(const std::string& path);
    // Watches the folders of an include's name and of the names its links lead to.
    void Follow(const std::string& key);
    bool IsPage(const std::string& path) const;
    // --exclude leaves out a page or, ending with "/", a folder.
    bool Excludes(const std::string& path) const;

    // Refreshes the pages waiting for it, with a time stamp line before them.
    void Refresh();
    void ReportMissing(const std::string& include, int error);
    // Its own writes start nothing: what a file looks like after them is kept.
    void NoteWritten(const std::string& path);

    const CliOptions options_;
    const std::string folder_; // as given, for messages
    const std::string root_;   // the system's one name for it, with "/"
    const std::string patterns_;
    const std::string log_; // the error log's name as an event names it, or empty
    SiteRun run_;
    WatchedFolders watches_;
    FileId rootId_;
    std::map<std::string, FileId> siteFolders_; // with "/"
    std::map<std::string, Include> includes_;
    std::set<std::string> named_; // includes named during the refresh under way
    std::map<std::string, struct stat> written_;
    std::set<std::string> missing_; // include files reported gone
    std::set<std::string> toRefresh_;
    Clock::time_point firstSave_{};
    Clock::time_point lastSave_{};
    bool rescan_ = false; // events were lost: the site is read again
    bool gone_ = false;
    bool lost_ = false;
};

SiteWatch::SiteWatch(const CliOptions& options)
    : options_(options), folder_(modGlobal::AddBackslash(options.folder)),
      root_(CanonicalFolder(options.folder)),
      patterns_(options.allFiles ? kAllFilesPattern : kHtmlPatterns),
      log_(options.logFile.empty() ? "" : IncludeKey(options.logFile)), run_(Watching(options), 0) {
    run_.host().onIncludeNamed = [this](const std::string& page, const std::string& include) {
        const std::string key = IncludeKey(include);
        includes_[key].pages.insert(page);
        named_.insert(key);
    };
}

int SiteWatch::Start() {
    const FileDescriptor root(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    int error = root.valid() && ::fstat(root.get(), &status) == 0 ? 0 : errno;
    rootId_ = IdOf(status);
    std::vector<FileId> above;
    if (error == 0)
        error = AddFolder(root.get(), root_, above);
    if (error != 0)
        return UsageError("cannot read folder: " + folder_ + ": " + std::strerror(error));
    // One that cannot be watched has been said.
    return siteFolders_.count(root_) ? 0 : kExitUsage;
}

int SiteWatch::AddFolder(int fd, const std::string& folder, std::vector<FileId>& above) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return errno;
    const FileId id = IdOf(status);
    if (std::find(above.begin(), above.end(), id) != above.end() ||
        !watches_.WatchOpened(fd, folder))
        return 0;
    std::vector<std::string> pages;
    std::vector<std::string> subFolders;
    if (const int error = ListOpenFolder(fd, patterns_, pages, subFolders)) {
        watches_.Forget(folder);
        return error;
    }
    siteFolders_[folder] = id;
    for (const std::string& page : pages)
        if (!Excludes(folder + page))
            toRefresh_.insert(folder + page);
    if (!options_.recursive)
        return 0;
    above.push_back(id);
    for (const std::string& name : subFolders) {
        if (Excludes(folder + name + "/"))
            continue;
        const FileDescriptor sub(
            ::openat(fd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub.valid())
            (void)AddFolder(sub.get(), folder + name + "/", above);
    }
    above.pop_back();
    return 0;
}

std::vector<FileId> SiteWatch::FoldersAbove(const std::string& folder) const {
    std::vector<FileId> ids;
    for (std::string at = folder; at.size() > root_.size();) {
        at = ParentFolder(at);
        if (const auto known = siteFolders_.find(at); known != siteFolders_.end())
            ids.push_back(known->second);
    }
    return ids;
}

void SiteWatch::ForgetFolder(const std::string& folder) {
    const auto under = [&](const std::string& path) { return path.starts_with(folder); };
    watches_.Forget(folder);
    std::erase_if(siteFolders_, [&](const auto& entry) { return under(entry.first); });
    std::erase_if(toRefresh_, under);
    for (auto& [key, include] : includes_)
        std::erase_if(include.pages, under);
    std::erase_if(includes_, [](const auto& entry) { return entry.second.pages.empty(); });
    // An include that lay there is waited for where it may come back.
    for (const auto& [key, include] : includes_)
        if (std::any_of(include.chain.begin(), include.chain.end(), under))
            Follow(key);
}

FileDescriptor SiteWatch::OpenSiteFolder(const std::string& folder) const {
    // No descriptor of the site's folder is kept open, or its removal would not be told.
    const FileDescriptor root(::open(root_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status {};
    if (!root.valid() || ::fstat(root.get(), &status) != 0 || IdOf(status) != rootId_)
        return {};
    return FileDescriptor(OpenFolderBelow(root.get(), folder.substr(root_.size())));
}

bool SiteWatch::StillThere(const std::string& folder) const {
    const auto known = siteFolders_.find(folder);
    const FileDescriptor now = OpenSiteFolder(folder);
    struct stat status {};
    return known != siteFolders_.end() && now.valid() && ::fstat(now.get(), &status) == 0 &&
           IdOf(status) == known->second;
}

void SiteWatch::Rescan() {
    rescan_ = false;
    const std::map<std::string, FileId> before = std::move(siteFolders_);
    siteFolders_.clear();
    std::vector<FileId> above;
    const FileDescriptor root = OpenSiteFolder(root_);
    gone_ = !root.valid();
    if (!gone_)
        (void)AddFolder(root.get(), root_, above);
    for (const auto& [folder, id] : before)
        if (!siteFolders_.count(folder))
            ForgetFolder(folder);
    for (const auto& [key, include] : includes_)
        Follow(key);
}

void SiteWatch::ReadEvents() {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(watches_.fd(), buffer, sizeof buffer);
        if (got <= 0)
            return;
        for (char* at = buffer; at < buffer + got && !gone_;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            at += sizeof(inotify_event) + event->len;
            const bool idle = toRefresh_.empty() && !rescan_;
            if (!Handle(*event))
                continue;
            lastSave_ = Clock::now();
            if (idle)
                firstSave_ = lastSave_;
        }
    }
}

// True when the event counts as a save: of a page, an include file or a folder.
bool SiteWatch::Handle(const inotify_event& event) {
    if (event.mask & IN_Q_OVERFLOW)
        return rescan_ = true;
    const std::set<std::string>* names = watches_.NamesOf(event.wd);
    if (names == nullptr)
        return false;
    if (event.mask & IN_IGNORED) {
        for (const std::string& folder : watches_.Gone(event.wd)) {
            gone_ = gone_ || folder == root_;
            ForgetFolder(folder);
        }
        return true;
    }
    // A folder moved away keeps its watch, which no longer belongs to its names.
    if (event.mask & IN_MOVE_SELF)
        watches_.Moved(event.wd);
    if (event.len == 0)
        return false;
    bool counts = false;
    for (const std::string& folder : std::set<std::string>(*names))
        counts = Changed(folder + event.name, event.mask) || counts;
    return counts;
}

bool SiteWatch::Changed(const std::string& path, std::uint32_t mask) {
    struct stat now {};
    const bool exists = ::stat(path.c_str(), &now) == 0;
    if (const auto written = written_.find(path); written != written_.end()) {
        if (exists && Unchanged(written->second, now))
            return false;
        written_.erase(written);
    }
    bool counts = siteFolders_.count(ParentFolder(path)) && SubFolderChanged(path, mask);
    if (IsPage(path)) {
        toRefresh_.insert(path);
        counts = true;
    }
    return IncludesChanged(path) || counts;
}

// Whatever the event says the name is, what it holds now is looked at again, without
// following a link: a folder put where another was, or a link put where a folder was.
bool SiteWatch::SubFolderChanged(const std::string& path, std::uint32_t mask) {
    const std::string folder = path + "/";
    const auto known = siteFolders_.find(folder);
    const bool wasFolder = known != siteFolders_.end();
    if (mask & (IN_DELETE | IN_MOVED_FROM)) {
        if (wasFolder)
            ForgetFolder(folder);
        return wasFolder;
    }
    if (!options_.recursive || LastComponent(path).front() == '.' || Excludes(folder) ||
        !(mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB)))
        return false;
    const FileDescriptor now = OpenSiteFolder(folder);
    struct stat status {};
    const bool isFolder = now.valid() && ::fstat(now.get(), &status) == 0;
    if (wasFolder && isFolder && known->second == IdOf(status))
        return false;
    if (wasFolder)
        ForgetFolder(folder);
    if (isFolder) {
        std::vector<FileId> above = FoldersAbove(folder);
        (void)AddFolder(now.get(), folder, above);
    }
    return wasFolder || isFolder;
}

// An include file, a link on its way or a folder above it came, went or was saved: it is
// watched wherever it leads now, and its pages are refreshed once it is there.
bool SiteWatch::IncludesChanged(const std::string& path) {
    bool counts = false;
    for (auto& [key, include] : includes_) {
        const bool itself =
            std::find(include.chain.begin(), include.chain.end(), path) != include.chain.end();
        if (!itself &&
            std::none_of(include.chain.begin(), include.chain.end(),
                         [&](const std::string& name) { return name.starts_with(path + "/"); }))
            continue;
        counts = true;
        Follow(key);
        struct stat status {};
        if (::stat(key.c_str(), &status) == 0) {
            missing_.erase(key);
            toRefresh_.insert(include.pages.begin(), include.pages.end());
        } else if (itself) {
            ReportMissing(key, errno);
        }
    }
    return counts;
}

void SiteWatch::Follow(const std::string& key) {
    Include& include = includes_[key];
    include.chain = LinkChain(key);
    for (const std::string& name : include.chain)
        watches_.WatchFollowing(ParentFolder(name));
}

bool SiteWatch::IsPage(const std::string& path) const {
    const std::string name = LastComponent(path);
    struct stat st {};
    return siteFolders_.count(ParentFolder(path)) && !name.empty() && name.front() != '.' &&
           MatchesPatterns(name, patterns_) && !Excludes(path) && ::stat(path.c_str(), &st) == 0 &&
           S_ISREG(st.st_mode);
}

bool SiteWatch::Excludes(const std::string& path) const {
    const std::string relative = path.substr(root_.size());
    return Excluded(relative, options_.exclude) ||
           (relative.ends_with('/') &&
            Excluded(relative.substr(0, relative.size() - 1), options_.exclude));
}

void SiteWatch::Refresh() {
    // Pages are refreshed folder by folder, each folder's in the file list's order, and
    // never in a folder that is no longer the one watched under its name.
    std::map<std::string, std::vector<std::string>> byFolder;
    for (const std::string& page : toRefresh_)
        if (IsPage(page))
            byFolder[ParentFolder(page)].push_back(LastComponent(page));
    toRefresh_.clear();
    std::vector<SiteFolder> site;
    for (auto& [folder, pages] : byFolder) {
        if (!StillThere(folder))
            continue;
        SortFileNames(pages);
        for (const std::string& page : pages)
            for (auto& [key, include] : includes_)
                include.pages.erase(folder + page);
        site.push_back({folder, folder.substr(root_.size()), pages, 0});
    }
    if (site.empty())
        return;
    if (!options_.quiet)
        run_.host().PrintLine(Now());
    named_.clear();
    const RunTotals totals = run_.Refresh(site);
    for (const SiteFolder& folder : site)
        for (const std::string& page : folder.pages) {
            NoteWritten(folder.path + page);
            NoteWritten(BackupPathOf(folder.path + page));
        }
    NoteWritten(log_);
    std::erase_if(includes_, [](const auto& entry) { return entry.second.pages.empty(); });
    for (const std::string& key : named_)
        if (includes_.count(key))
            Follow(key);
    if (!options_.quiet)
        run_.Close(totals);
    lost_ = run_.host().outputLost();
}

void SiteWatch::ReportMissing(const std::string& include, int error) {
    if (!missing_.insert(include).second)
        return;
    run_.host().Report(Problem{ProblemKind::MissingInclude, {}, include, error, 0});
    NoteWritten(log_);
}

void SiteWatch::NoteWritten(const std::string& path) {
    struct stat status {};
    if (!path.empty() && ::stat(path.c_str(), &status) == 0)
        written_[path] = status;
}

int SiteWatch::Run() {
    if (watches_.fd() < 0)
        return UsageError(std::string("cannot watch: ") + std::strerror(watches_.error()));
    if (const int status = Start())
        return status;
    Refresh();
    while (!CliHost::AbortSignalled() && !lost_ && !gone_) {
        int timeout = -1; // nothing waits: sleep in the kernel until something happens
        if (!toRefresh_.empty() || rescan_) {
            const auto due = std::min(lastSave_ + kQuiet, firstSave_ + kLongest);
            const auto now = Clock::now();
            if (now >= due) {
                if (rescan_)
                    Rescan();
                Refresh();
                continue;
            }
            timeout =
                static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count());
        }
        pollfd wait{watches_.fd(), POLLIN, 0};
        if (::poll(&wait, 1, timeout) > 0)
            ReadEvents();
    }
    if (gone_)
        return UsageError("the folder is gone: " + folder_);
    return lost_ ? kExitOutputLost : kExitAborted;
}

} // namespace

int WatchSite(const CliOptions& options) {
    return SiteWatch(options).Run();
}
