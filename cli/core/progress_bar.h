// A progress bar on a terminal while a scan blocks the calling thread. The
// bar runs on its own thread and only reads the clock: the library is called
// from the main thread alone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace quillon::cli {

// One line of the bar: label, bar of `width` cells, percentage and times.
std::string renderProgress(const std::string& label, std::chrono::milliseconds elapsed,
                           std::chrono::milliseconds expected, int width);

class ProgressBar {
  public:
    // Starts drawing on `terminal` at once; `expected` is the module's estimate.
    ProgressBar(FILE* terminal, std::string label, std::chrono::milliseconds expected);
    // Stops the thread and clears the line.
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

  private:
    void run();

    FILE* terminal_;
    std::string label_;
    std::chrono::milliseconds expected_;
    std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace quillon::cli
