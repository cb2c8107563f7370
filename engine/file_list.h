#pragma once

// Which files and sub-folders of a folder are offered, and in which order. Every listing
// of a folder goes through here.

#include <string>
#include <vector>

inline constexpr char kHtmlPatterns[] = "*.htm;*.html;*.shtml";
inline constexpr char kAllFilesPattern[] = "*.*";

// True when name matches one of the ";"-separated patterns, ignoring ASCII letter case.
// "*.*" matches every name, also one without a dot.
bool MatchesPatterns(const std::string& name, const std::string& patterns);

// Sorts names ignoring ASCII letter case; names equal but for case keep byte order.
void SortFileNames(std::vector<std::string>& names);

// The ordinary files of folder (links to ordinary files count) whose names match, sorted.
// Hidden files are never listed. 0, or the errno value of a folder
// that could not be read to its end.
int ListFiles(const std::string& folder, const std::string& patterns,
              std::vector<std::string>& names);

// The sub-folders of folder, hidden ones left out, sorted; links to folders count only
// with followLinks. 0, or the errno value of a folder that could not be read to its end.
int ListSubFolders(const std::string& folder, bool followLinks, std::vector<std::string>& names);
