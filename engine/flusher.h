#pragma once

// Flushes files to the disk on a few threads of its own, so that the waits for the disk of
// several pages overlap while the run goes on with the next page.

#include "disk.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

class Flusher {
  public:
    Flusher(Disk& disk, int threads);
    ~Flusher();
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    // Flushes every file; the result holds 0 or an errno value for each, in order. The
    // files must stay open until it is ready.
    std::future<std::vector<int>> Flush(std::vector<int> files);

  private:
    void Work();

    Disk& disk_;
    const int threadCount_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
};
