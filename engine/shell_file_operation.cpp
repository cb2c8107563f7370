// ShellFileOperation: the shell's file operations carried out with POSIX calls.

#include "cshfileop.h"
#include "posix_file.h"

#include <cerrno>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// Splits a double-NUL buffer back into its names.
std::vector<std::string> NamesOf(const std::string& buffer) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < buffer.size() && buffer[start] != '\0') {
        const std::size_t end = buffer.find('\0', start);
        names.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace

int ShellFileOperation(SHFileOpStruct& record) {
    const std::vector<std::string> sources = NamesOf(record.pFrom);
    const std::vector<std::string> targets = NamesOf(record.pTo);
    if (sources.empty())
        return EINVAL;
    switch (record.wFunc) {
    case FO_COPY:
        if (sources.size() != 1 || targets.size() != 1)
            return EINVAL;
        return posix::AtomicCopyFile(sources[0], targets[0]) ? 0 : errno;
    case FO_DELETE:
        for (const std::string& name : sources)
            if (::unlink(name.c_str()) != 0)
                return errno;
        return 0;
    default:
        return EINVAL;
    }
}
