#include "file_list.h"

#include "tag_pass.h"

#include <algorithm>
#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>

namespace {

std::string AsciiLowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    return text;
}

} // namespace

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

bool ListFiles(const std::string& folder, const std::string& patterns,
               std::vector<std::string>& names) {
    names.clear();
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir)
        return false;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name.front() == '.' || ::strcasecmp(name.c_str(), kTempFileName) == 0)
            continue;
        if (entry->d_type != DT_REG) {
            struct stat st {};
            if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
                continue;
            if (::stat((prefix + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                continue;
        }
        if (MatchesPatterns(name, patterns))
            names.push_back(name);
    }
    SortFileNames(names);
    return true;
}
