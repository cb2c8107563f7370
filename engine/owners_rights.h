#pragma once

// A run as root reads a page's include files with the rights of the page's owner, as a
// file server does for its clients: otherwise a site's author could have a root job copy
// any file of the machine into a page they can read.

#include <sys/stat.h>
#include <vector>

// For its lifetime, the calling thread opens files with the file-system identity (user,
// group and supplementary groups) of the owner of the file described by page, when the
// process runs as root and the page is not root's; otherwise it changes nothing. Other
// threads keep their identity.
class OwnersRights {
  public:
    explicit OwnersRights(const struct stat& page);
    ~OwnersRights();
    OwnersRights(const OwnersRights&) = delete;
    OwnersRights& operator=(const OwnersRights&) = delete;

    // False when the identity could not be taken on: nothing may be opened for the owner.
    bool taken() const { return taken_; }

  private:
    bool switched_ = false;
    bool taken_ = true;
    std::vector<gid_t> ownGroups_; // the thread's groups before
};
