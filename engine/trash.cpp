#include "trash.h"

#include "cshfileop.h"
#include "disk.h"
#include "mod_global.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace trash {

namespace {

// Path= holds a URL path: every byte but the unreserved ones and "/" as %XX.
std::string EncodedPath(const std::string& path) {
    std::string encoded;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            encoded += c;
        } else {
            encoded += '%';
            modGlobal::AppendHex(encoded, byte);
        }
    }
    return encoded;
}

// Creating the info file with O_EXCL is what claims a name in the trash, so two programs
// trashing items of one name at once cannot take the same one.
int WriteInfo(Disk& disk, const std::string& infoPath, const std::string& record) {
    FileDescriptor file;
    int error = disk.Open(infoPath, O_CREAT | O_EXCL | O_WRONLY, 0600, file);
    if (error != 0)
        return error;
    if ((error = disk.WriteAll(file.get(), record.data(), record.size())) == 0 &&
        (error = disk.Sync(file.get())) == 0 && (error = file.close()) == 0)
        return 0;
    (void)disk.Unlink(infoPath);
    return error;
}

} // namespace

std::string HomeTrashFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return std::string(dataHome) + "/Trash";
    const char* home = std::getenv("HOME");
    const passwd* user = ::getpwuid(::getuid());
    if (home == nullptr || home[0] != '/')
        home = user != nullptr ? user->pw_dir : nullptr;
    return home != nullptr ? std::string(home) + "/.local/share/Trash" : std::string();
}

// The absolute path of the item's folder, as the trash records it.
std::string AbsoluteFolderOf(const std::string& path) {
    const std::string folder = FolderOf(path);
    if (folder.front() == '/')
        return folder;
    char working[PATH_MAX];
    if (::getcwd(working, sizeof working) == nullptr)
        return {};
    return std::filesystem::path(std::string(working) + "/" + folder).lexically_normal().string();
}

int MoveToTrash(Disk& disk, const std::string& path) {
    struct stat status {};
    if (const int error = disk.Status(path, status, false))
        return error;
    std::string folder = AbsoluteFolderOf(path);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    const std::string root = HomeTrashFolder();
    if (root.empty() || folder.empty())
        return ENOENT;
    // The trash holds what the user threw away: only the user may look into it.
    for (const std::string& part : {root + "/files", root + "/info"}) {
        if (const int error = disk.MakeFolders(part, 0700))
            return error;
        (void)disk.ChangeModeOf(root, 0700);
        (void)disk.ChangeModeOf(part, 0700);
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    const std::string record =
        "[Trash Info]\nPath=" +
        EncodedPath((folder == "/" ? "" : folder) + "/" + LastComponent(path)) +
        "\nDeletionDate=" + date + "\n";
    int result = EEXIST;
    for (int number = 1; result == EEXIST && number < 100000; ++number) {
        const std::string name = NumberedName(LastComponent(path), number, S_ISDIR(status.st_mode));
        const std::string infoPath = root + "/info/" + name + ".trashinfo";
        if ((result = WriteInfo(disk, infoPath, record)) != 0)
            continue;
        if ((result = disk.Rename(path, root + "/files/" + name, true)) == 0)
            return 0;
        (void)disk.Unlink(infoPath);
    }
    return result;
}

} // namespace trash
