#pragma once

// The file list: which files of a folder are offered for processing, and in which order.

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
// Hidden files and the temporary file are never listed. False when the folder cannot be
// read.
bool ListFiles(const std::string& folder, const std::string& patterns,
               std::vector<std::string>& names);
