#pragma once

// A few threads of the run's own that flush the new files of pages, put them in place and
// make new files ahead of need, so that the waits for the disk of several pages overlap
// while the run reads the next page.

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Flusher {
  public:
    explicit Flusher(int threads) : threadCount_(threads) {}
    ~Flusher();
    Flusher(const Flusher&) = delete;
    Flusher& operator=(const Flusher&) = delete;

    // Runs job on one of the threads; the result is ready when it has run.
    template <typename Job> auto Run(Job job) -> std::future<decltype(job())> {
        auto task = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        auto result = task->get_future();
        Queue([task] { (*task)(); });
        return result;
    }

  private:
    void Queue(std::function<void()> job);
    void Work();

    const int threadCount_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
};
