// The module's own thread: every library call of the server runs here, one
// job at a time, in the order given. Callers never wait for a slow job
// unless they ask to; the line of waiting jobs is bounded.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace quillon::cli::serve {

class JobQueue {
  public:
    // Called with true on the module's thread, or with false (on the thread
    // that shuts the queue down) when the job will never run.
    using Job = std::function<void(bool run)>;

    explicit JobQueue(size_t maxWaiting);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    // False, without calling `job`, when the line is full or the queue stopped.
    bool post(Job job);
    // Runs `work` on the module's thread and returns after it; false when it
    // was never run (line full, or shut down before its turn).
    bool runAndWait(const std::function<void()>& work);
    // Lets the running job finish, drops the waiting ones, ends the thread.
    void shutdown();

  private:
    void loop();

    const size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> waiting_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quillon::cli::serve
