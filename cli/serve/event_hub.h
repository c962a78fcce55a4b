// Server-sent events: every open event stream has its own bounded queue, so a
// reader that falls behind loses its stream instead of slowing the others or
// the module.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillon::cli::serve {

class EventHub {
  public:
    struct Stream {
        std::deque<std::string> pending;  // whole event texts, oldest first
        bool dropped = false;             // fell behind; its stream ends
    };

    explicit EventHub(size_t maxStreams, size_t maxPending)
        : maxStreams_(maxStreams), maxPending_(maxPending) {}

    // A new stream, or null when the hub is full or closed.
    std::shared_ptr<Stream> open();
    void close(const std::shared_ptr<Stream>& stream);
    // Queues "event: NAME\ndata: DATA\n\n" for every stream (DATA holds no line end).
    void publish(const std::string& name, const std::string& data);
    // The next queued text; "" when `wait` passed without one; nothing when
    // the stream must end (dropped, or the hub shuts down).
    std::optional<std::string> next(Stream& stream, std::chrono::milliseconds wait);
    // Ends every stream; open() refuses from now on.
    void shutdown();
    size_t streams() const;

  private:
    const size_t maxStreams_;
    const size_t maxPending_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Stream>> streams_;
    bool closed_ = false;
};

}  // namespace quillon::cli::serve
