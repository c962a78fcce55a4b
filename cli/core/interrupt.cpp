#include "interrupt.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace quillon::cli {
namespace {

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// Only write(2) here: the main thread may hold stdio's locks at any moment.
void say(const char* text) {
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

}  // namespace

InterruptWatch::InterruptWatch() {
    const sigset_t set = watchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
    signalFd_ = signalfd(-1, &set, SFD_CLOEXEC);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || stopFd_ < 0) {
        // Without a way to watch, signals keep their ordinary effect.
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        return;
    }
    thread_ = std::thread([this] { run(); });
}

InterruptWatch::~InterruptWatch() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        const ssize_t ignored = write(stopFd_, &one, sizeof one);
        (void)ignored;
        thread_.join();
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    if (signalFd_ >= 0) close(signalFd_);
    if (stopFd_ >= 0) close(stopFd_);
}

bool InterruptWatch::sleepUntil(std::chrono::steady_clock::time_point until) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return !wake_.wait_until(lock, until, [this] { return requested(); });
}

void InterruptWatch::onSignal(std::function<void()> call) {
    std::lock_guard<std::mutex> calling(callMutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!requested()) {
            onSignal_ = std::move(call);
            return;
        }
    }
    if (call) call();
}

void InterruptWatch::run() {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        signalfd_siginfo info{};
        if (read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) continue;
        const int number = static_cast<int>(info.ssi_signo);
        if (requested()) {
            say("\nquillon: stopped at once\n");
            _exit(128 + number);
        }
        std::lock_guard<std::mutex> calling(callMutex_);
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signal_ = number;
            call = std::move(onSignal_);
        }
        wake_.notify_all();
        if (call) call();
        say(number == SIGINT
                ? "\nquillon: interrupted; finishing cleanly (Ctrl-C again stops at once)\n"
                : "\nquillon: terminated; finishing cleanly\n");
    }
}

}  // namespace quillon::cli
