// Ctrl-C and SIGTERM during a long command. The first one asks the command to
// stop at its next safe point, so that it can switch the lamp off and leave
// complete outputs behind; a second one while it is stopping ends the program
// at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

namespace quillon::cli {

class InterruptWatch {
  public:
    // Blocks SIGINT and SIGTERM in the calling thread, and so in every thread
    // it starts later, and receives them on a thread of its own: a library
    // call in progress is never cut short by a signal. Create it before the
    // program starts any other thread.
    InterruptWatch();
    // Stops watching and restores the signal mask.
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // The first signal received, 0 while none came.
    int signal() const { return signal_.load(); }
    bool requested() const { return signal() != 0; }
    // The exit status that reports the signal: 128 + its number.
    int exitStatus() const { return 128 + signal(); }

    // Sleeps until `until` unless a signal comes first. False when one came.
    bool sleepUntil(std::chrono::steady_clock::time_point until) const;
    // Called once on the watching thread with the first signal (at once when
    // it has already come), for work that waits elsewhere. An empty one
    // forgets the last; when it returns, no call is running any more.
    void onSignal(std::function<void()> call);

  private:
    void run();

    sigset_t previousMask_{};
    int signalFd_ = -1;
    int stopFd_ = -1;
    std::atomic<int> signal_{0};
    mutable std::mutex mutex_;
    mutable std::condition_variable wake_;
    std::mutex callMutex_;  // held while onSignal_ runs
    std::function<void()> onSignal_;
    std::thread thread_;
};

}  // namespace quillon::cli
