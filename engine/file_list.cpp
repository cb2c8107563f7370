#include "file_list.h"

#include "disk.h"
#include "mod_global.h"

#include <algorithm>
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

using modGlobal::AsciiLowered;

bool MatchesPatterns(const std::string& name, const std::string& patterns) {
    const std::string lowerName = AsciiLowered(name);
    std::size_t start = 0;
    while (start <= patterns.size()) {
        std::size_t end = patterns.find(';', start);
        if (end == std::string::npos)
            end = patterns.size();
        const std::string pattern = AsciiLowered(patterns.substr(start, end - start));
        if (pattern == "*.*" || pattern == "*")
            return true;
        if (!pattern.empty() && ::fnmatch(pattern.c_str(), lowerName.c_str(), 0) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

void SortFileNames(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string lowerA = AsciiLowered(a);
        const std::string lowerB = AsciiLowered(b);
        return lowerA != lowerB ? lowerA < lowerB : a < b;
    });
}

namespace {

// The visible entries of folder whose type (links followed, where asked) is wanted.
int ListEntries(const std::string& folder, mode_t wanted, bool followLinks,
                std::vector<std::string>& names) {
    names.clear();
    std::vector<FolderEntry> entries;
    if (const int error = RealDisk().List(folder, entries))
        return error;
    const std::string prefix = modGlobal::AddBackslash(folder);
    for (const FolderEntry& entry : entries) {
        if (entry.name.front() == '.')
            continue;
        mode_t type = DTTOIF(entry.type);
        if (entry.type == DT_UNKNOWN || (entry.type == DT_LNK && followLinks)) {
            struct stat st {};
            if (RealDisk().Status(prefix + entry.name, st, followLinks) != 0)
                continue;
            type = st.st_mode & S_IFMT;
        }
        if (type == wanted)
            names.push_back(entry.name);
    }
    SortFileNames(names);
    return 0;
}

} // namespace

int ListFiles(const std::string& folder, const std::string& patterns,
              std::vector<std::string>& names) {
    if (const int error = ListEntries(folder, S_IFREG, true, names))
        return error;
    std::erase_if(names, [&](const std::string& name) { return !MatchesPatterns(name, patterns); });
    return 0;
}

int ListSubFolders(const std::string& folder, bool followLinks, std::vector<std::string>& names) {
    return ListEntries(folder, S_IFDIR, followLinks, names);
}
