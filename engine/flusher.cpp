#include "flusher.h"

#include <memory>

Flusher::Flusher(Disk& disk, int threads) : disk_(disk), threadCount_(threads) {}

Flusher::~Flusher() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

std::future<std::vector<int>> Flusher::Flush(std::vector<int> files) {
    auto job =
        std::make_shared<std::packaged_task<std::vector<int>()>>([this, files = std::move(files)] {
            std::vector<int> errors;
            for (const int fd : files)
                errors.push_back(disk_.Sync(fd));
            return errors;
        });
    std::future<std::vector<int>> result = job->get_future();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // A run that writes nothing starts no thread.
        if (threads_.size() < static_cast<std::size_t>(threadCount_))
            threads_.emplace_back(&Flusher::Work, this);
        jobs_.push_back([job] { (*job)(); });
    }
    wake_.notify_one();
    return result;
}

void Flusher::Work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}
