#include "owners_rights.h"

#include <grp.h>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

// The owner's groups: the primary group of their account and every group that names them,
// or the page's group alone when the owner has no account.
std::vector<gid_t> GroupsOf(uid_t owner, gid_t pageGroup) {
    static std::mutex mutex;
    static std::map<uid_t, std::vector<gid_t>> known;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto found = known.find(owner); found != known.end())
        return found->second;
    std::vector<gid_t> groups{pageGroup};
    passwd account{};
    passwd* result = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(owner, &account, buffer.data(), buffer.size(), &result) == 0 &&
        result != nullptr) {
        int count = 64;
        groups.assign(static_cast<std::size_t>(count), 0);
        if (::getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count) < 0) {
            groups.assign(static_cast<std::size_t>(count), 0);
            ::getgrouplist(account.pw_name, account.pw_gid, groups.data(), &count);
        }
        groups.resize(static_cast<std::size_t>(count));
    }
    return known[owner] = groups;
}

// The system calls themselves change the calling thread only; the C library's wrappers of
// setgroups would change every thread of the process.
bool SetThreadGroups(const std::vector<gid_t>& groups) {
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

} // namespace

OwnersRights::OwnersRights(const struct stat& page) {
    if (::geteuid() != 0 || page.st_uid == 0)
        return;
    switched_ = true;
    const int count = ::getgroups(0, nullptr);
    ownGroups_.resize(static_cast<std::size_t>(count > 0 ? count : 0));
    if (count > 0 && ::getgroups(count, ownGroups_.data()) != count)
        ownGroups_.clear();
    const std::vector<gid_t> groups = GroupsOf(page.st_uid, page.st_gid);
    // setfsuid and setfsgid answer with the identity before the call: read back to check.
    ::setfsgid(groups.front());
    ::setfsuid(page.st_uid);
    taken_ = SetThreadGroups(groups) &&
             static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == groups.front() &&
             static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == page.st_uid;
}

OwnersRights::~OwnersRights() {
    if (!switched_)
        return;
    ::setfsuid(::geteuid());
    ::setfsgid(::getegid());
    (void)SetThreadGroups(ownGroups_);
}
