// Spectra on their way to the broker, in the order they were measured. A
// spectrum leaves only when the broker acknowledged it; the connection holds a
// few at a time ("in flight") and keeps those across a reconnection itself,
// while the rest wait here. When more than the capacity wait, the oldest
// waiting one is dropped and counted, so memory stays bounded during a long
// outage and the count says exactly what a subscriber will miss.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace quillon::cli::publish {

class SpectrumQueue {
  public:
    // Hands a payload to the connection; the message id it was given, or
    // nothing when the connection would not take it.
    using Send = std::function<std::optional<int>(const std::string& payload)>;

    // `capacity` waiting spectra (at least 1) besides at most `window` in flight.
    SpectrumQueue(size_t capacity, size_t window);

    // Appends a spectrum; drops the oldest waiting one when full.
    void push(std::string payload);
    // Hands waiting spectra to `send`, oldest first, while the window has room.
    // Holds the queue while sending, so an acknowledgement cannot overtake the
    // message id it belongs to.
    void pump(const Send& send);
    // The broker acknowledged message `mid`; false when it is not a spectrum's.
    bool acknowledge(int mid);
    // Waits until nothing is left or `deadline` passes; true when empty.
    bool waitEmpty(std::chrono::steady_clock::time_point deadline);

    size_t size() const;  // waiting and in flight
    size_t inFlight() const;
    uint64_t dropped() const;  // since the start

  private:
    struct Entry {
        std::string payload;
        std::optional<int> mid;  // in flight
    };

    const size_t capacity_;
    const size_t window_;
    mutable std::mutex mutex_;
    std::condition_variable emptied_;
    std::deque<Entry> entries_;  // the ones in flight first
    size_t inFlight_ = 0;
    uint64_t dropped_ = 0;
};

}  // namespace quillon::cli::publish
