#include "trash.h"

#include "file_tree.h"
#include "posix_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace trash {

namespace {

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return home;
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// Where the item really is, its folder's links resolved, since that is where a restore
// must put it back.
int AbsoluteLocation(const std::string& path, std::string& location) {
    char folder[PATH_MAX];
    if (::realpath(file_tree::FolderOf(path).c_str(), folder) == nullptr)
        return errno;
    location = file_tree::Join(folder, file_tree::LastComponent(path));
    return 0;
}

// Path= holds a URL path: every byte but the unreserved ones and "/" as %XX.
std::string EncodedPath(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                           c == '~' || c == '/';
        if (plain) {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0x0F];
        }
    }
    return encoded;
}

// Local time without a zone, as the freedesktop.org Trash standard wants it.
std::string DeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The trash holds what the user threw away: only the user may look into it.
int EnsurePrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) == 0)
        return 0;
    if (errno != EEXIST)
        return errno;
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return errno;
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

int PrepareTrash(const std::string& root) {
    std::error_code error;
    std::filesystem::create_directories(file_tree::FolderOf(root), error);
    if (error)
        return error.value();
    for (const std::string& folder :
         {root, file_tree::Join(root, "files"), file_tree::Join(root, "info")})
        if (const int failure = EnsurePrivateFolder(folder))
            return failure;
    return 0;
}

// Creating the info file with O_EXCL is what claims a name in the trash, so two programs
// trashing items of one name at once cannot take the same one.
int WriteInfo(const std::string& infoPath, const std::string& record) {
    posix::FileDescriptor file(
        ::open(infoPath.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600));
    if (!file.valid())
        return errno;
    if (posix::WriteAll(file.get(), record.data(), record.size()) && ::fsync(file.get()) == 0 &&
        file.close())
        return 0;
    const int error = errno != 0 ? errno : EIO;
    ::unlink(infoPath.c_str());
    return error;
}

} // namespace

std::string HomeTrashFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return file_tree::Join(file_tree::WithoutTrailingSlashes(dataHome), "Trash");
    const std::string home = HomeFolder();
    if (home.empty())
        return {};
    return file_tree::Join(file_tree::WithoutTrailingSlashes(home), ".local/share/Trash");
}

int MoveToTrash(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        return errno;
    std::string location;
    if (const int error = AbsoluteLocation(path, location))
        return error;
    const std::string root = HomeTrashFolder();
    if (root.empty())
        return ENOENT;
    if (const int error = PrepareTrash(root))
        return error;

    const std::string files = file_tree::Join(root, "files");
    const std::string info = file_tree::Join(root, "info");
    const std::string record =
        "[Trash Info]\nPath=" + EncodedPath(location) + "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string base = file_tree::LastComponent(path);
    const bool folder = S_ISDIR(status.st_mode);
    // An item on another file system is copied into the trash once, then removed: the
    // "failsafe" way the freedesktop.org Trash standard allows for the home trash.
    std::string staged;
    int error = EEXIST;
    for (int number = 1; error == EEXIST && number <= file_tree::kLastNumber; ++number) {
        const std::string name = file_tree::NumberedName(base, number, folder);
        const std::string infoPath = file_tree::Join(info, name + ".trashinfo");
        error = WriteInfo(infoPath, record);
        if (error)
            continue;
        const std::string trashed = file_tree::Join(files, name);
        error = file_tree::RenameNoReplace(staged.empty() ? path : staged, trashed);
        if (error == EXDEV) {
            error = file_tree::CopyToHiddenName(path, files, false, true, staged);
            if (!error)
                error = file_tree::RenameNoReplace(staged, trashed);
        }
        if (!error)
            return staged.empty() ? 0 : file_tree::RemoveItem(path);
        ::unlink(infoPath.c_str());
    }
    if (!staged.empty())
        file_tree::DiscardCopy(staged);
    return error;
}

} // namespace trash
