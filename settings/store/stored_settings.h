#pragma once

// The settings the program keeps in the per-user store, by key, and how their stored texts
// are read: the two options, the HTML-only filter and the recent-folders list.

#include <string>
#include <vector>

namespace StoredSettings {

inline constexpr char kValueName[] = "String";
inline constexpr char kBackupKey[] = "Software\\reririDuruv\\backup";
inline constexpr char kErrmsgoffKey[] = "Software\\reririDuruv\\errmsgoff";
inline constexpr char kHtmlKey[] = "Software\\reririDuruv\\html";
// Subkey 0 holds the number of entries, subkeys 1 to 20 the folders, most recent first.
inline constexpr char kRecentFilesKey[] = "Software\\reririDuruv\\recent files";
inline constexpr int kMaxRecentFolders = 20;

// An option stored as "True" or "False". Anything else, a missing value included, reads as
// unchecked.
bool ReadOption(const char* key);
void WriteOption(const char* key, bool checked);

// The HTML-only filter, stored as "1" or "0"; anything but "1" reads as off.
bool ReadHtmlOnly();
void WriteHtmlOnly(bool htmlOnly);

// The stored recent-folders count: how many numbered entries the restore reads, at most
// kMaxRecentFolders. A missing, empty or non-numeric count gives 0.
int ReadRecentCount();

// The recent folders as stored, most recent first: the entries the count names, empty or
// missing ones left out.
std::vector<std::string> ReadRecentFolders();
// Stores the list anew, in one save: the old branch goes, then entries 1, 2... and the
// count.
void WriteRecentFolders(const std::vector<std::string>& folders);
// Removes the list from the store.
void ClearRecentFolders();

} // namespace StoredSettings
