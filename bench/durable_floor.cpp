// The floor of a durable refresh: every page of a folder rewritten as it is, without any
// parsing, each read whole, written to a new file beside it, flushed and renamed over it.
// With THREADS above 1, that many pages are rewritten at once, so their flushes overlap.
//   durable_floor FOLDER [THREADS]

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

bool Rewrite(const std::string& page, const std::string& scratch) {
    const int in = ::open(page.c_str(), O_RDONLY);
    const int out = ::open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (in < 0 || out < 0)
        return false;
    char buffer[1 << 16];
    ssize_t n;
    while ((n = ::read(in, buffer, sizeof buffer)) > 0)
        if (::write(out, buffer, static_cast<size_t>(n)) != n)
            return false;
    const bool ok = n == 0 && ::fsync(out) == 0 && ::close(out) == 0 && ::close(in) == 0;
    return ok && ::rename(scratch.c_str(), page.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    const std::string folder = std::string(argv[1]) + "/";
    const int threads = argc > 2 ? std::atoi(argv[2]) : 1;
    std::vector<std::string> pages;
    DIR* dir = ::opendir(folder.c_str());
    while (const dirent* entry = dir != nullptr ? ::readdir(dir) : nullptr) {
        const std::string name = entry->d_name;
        if (name.find(".htm") != std::string::npos)
            pages.push_back(name);
    }
    if (dir != nullptr)
        ::closedir(dir);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (std::size_t i; (i = next++) < pages.size();)
                if (!Rewrite(folder + pages[i], folder + ".floor-" + std::to_string(t)))
                    failed = true;
        });
    for (std::thread& worker : workers)
        worker.join();
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    ::fsync(folderFd);
    if (failed)
        std::fprintf(stderr, "durable_floor: a page could not be rewritten\n");
    return failed ? 1 : 0;
}
