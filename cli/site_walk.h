#pragma once

// Which folders a run of the command line goes through, and their pages.

#include <string>
#include <vector>

struct SiteFolder {
    std::string path;   // ends with "/"
    std::string prefix; // the path relative to the site's folder: "" or ending with "/"
    std::vector<std::string> pages;
    int error = 0; // why the folder could not be read to its end, or 0
};

// The site's folder with the pages that match patterns, then, with recursive, every
// folder below it, each folder's own pages before its sub-folders. Hidden folders and
// symbolic links to folders are left out, so a walk can never loop. Folders below the
// site's folder that hold no page are left out; one that cannot be read
// to its end is kept with its error, so the run can report it where it comes. 0, or
// the errno value of a site's folder that cannot be read. Pages and folders whose path
// relative to folder matches one of the exclude patterns are left out.
int ListSite(const std::string& folder, const std::string& patterns, bool recursive,
             std::vector<SiteFolder>& folders, const std::vector<std::string>& exclude = {});

// The folder named relative below the open folder at, each of its names looked up without
// following a link; -1 (with errno) when one is a link, is missing or cannot be passed. The
// descriptor (O_PATH) is the caller's to close.
int OpenFolderBelow(int at, const std::string& relative);
