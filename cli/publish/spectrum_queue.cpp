#include "spectrum_queue.h"

#include <algorithm>

namespace quillon::cli::publish {

SpectrumQueue::SpectrumQueue(size_t capacity, size_t window)
    : capacity_(std::max<size_t>(capacity, 1)), window_(std::max<size_t>(window, 1)) {}

void SpectrumQueue::push(std::string payload) {
    std::lock_guard lock(mutex_);
    if (entries_.size() - inFlight_ >= capacity_) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(inFlight_));
        ++dropped_;
    }
    entries_.push_back({std::move(payload), std::nullopt});
}

void SpectrumQueue::pump(const Send& send) {
    std::lock_guard lock(mutex_);
    while (inFlight_ < window_ && inFlight_ < entries_.size()) {
        Entry& next = entries_[inFlight_];
        next.mid = send(next.payload);
        if (!next.mid) return;
        ++inFlight_;
    }
}

bool SpectrumQueue::acknowledge(int mid) {
    std::lock_guard lock(mutex_);
    const auto end = entries_.begin() + static_cast<std::ptrdiff_t>(inFlight_);
    const auto found =
        std::find_if(entries_.begin(), end, [mid](const Entry& e) { return e.mid == mid; });
    if (found == end) return false;
    entries_.erase(found);
    --inFlight_;
    if (entries_.empty()) emptied_.notify_all();
    return true;
}

bool SpectrumQueue::waitEmpty(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return emptied_.wait_until(lock, deadline, [this] { return entries_.empty(); });
}

size_t SpectrumQueue::size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

size_t SpectrumQueue::inFlight() const {
    std::lock_guard lock(mutex_);
    return inFlight_;
}

uint64_t SpectrumQueue::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace quillon::cli::publish
