// Server-sent events: every open event stream has its own bounded queue, so a
// reader that falls behind loses its stream instead of slowing the others or
// the module. A stream is told when it has something to send; nothing waits.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quillon::cli::serve {

class EventHub {
  public:
    struct Stream {
        std::string pending;         // whole event texts, oldest first
        size_t events = 0;           // how many are pending
        bool dropped = false;        // fell behind; its stream ends
        std::function<void()> wake;  // called, on any thread, when there is news
    };

    explicit EventHub(size_t maxStreams, size_t maxPending)
        : maxStreams_(maxStreams), maxPending_(maxPending) {}

    // A new stream, or null when the hub is full or closed. `wake` must not
    // call back into the hub.
    std::shared_ptr<Stream> open(std::function<void()> wake);
    void close(const std::shared_ptr<Stream>& stream);
    // Queues "event: NAME\ndata: DATA\n\n" for every stream (DATA holds no line end).
    void publish(const std::string& name, const std::string& data);
    // Everything queued for `stream` ("" when nothing is); nothing when the
    // stream must end (dropped, or the hub shuts down).
    std::optional<std::string> take(Stream& stream);
    // Ends every stream; open() refuses from now on.
    void shutdown();
    size_t streams() const;

  private:
    // Calls every stream's wake, outside the lock.
    void wakeAll(const std::vector<std::shared_ptr<Stream>>& streams);

    const size_t maxStreams_;
    const size_t maxPending_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<Stream>> streams_;
    bool closed_ = false;
};

}  // namespace quillon::cli::serve
