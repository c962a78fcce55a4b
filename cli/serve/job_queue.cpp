#include "job_queue.h"

#include <future>

namespace quillon::cli::serve {

JobQueue::JobQueue(size_t maxWaiting) : maxWaiting_(maxWaiting) {
    thread_ = std::thread([this] { loop(); });
}

JobQueue::~JobQueue() {
    shutdown();
}

bool JobQueue::post(Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || waiting_.size() >= maxWaiting_) return false;
        waiting_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

bool JobQueue::runAndWait(const std::function<void()>& work) {
    std::promise<bool> ran;
    std::future<bool> done = ran.get_future();
    if (!post([&work, &ran](bool run) {
            if (run) work();
            ran.set_value(run);
        }))
        return false;
    return done.get();
}

void JobQueue::shutdown() {
    std::deque<Job> dropped;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        dropped.swap(waiting_);
    }
    wake_.notify_all();
    for (Job& job : dropped) job(false);
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void JobQueue::loop() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (waiting_.empty()) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        job(true);
    }
}

}  // namespace quillon::cli::serve
