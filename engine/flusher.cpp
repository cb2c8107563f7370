#include "flusher.h"

Flusher::~Flusher() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

void Flusher::Queue(std::function<void()> job) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        // A run that writes nothing starts no thread.
        if (threads_.size() < static_cast<std::size_t>(threadCount_))
            threads_.emplace_back(&Flusher::Work, this);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
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
