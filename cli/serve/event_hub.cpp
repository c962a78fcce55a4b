#include "event_hub.h"

#include <algorithm>

namespace quillon::cli::serve {

std::shared_ptr<EventHub::Stream> EventHub::open(std::function<void()> wake) {
    std::lock_guard lock(mutex_);
    if (closed_ || streams_.size() >= maxStreams_) return nullptr;
    auto stream = std::make_shared<Stream>();
    stream->wake = std::move(wake);
    streams_.push_back(stream);
    return stream;
}

void EventHub::close(const std::shared_ptr<Stream>& stream) {
    std::lock_guard lock(mutex_);
    std::erase(streams_, stream);
}

void EventHub::publish(const std::string& name, const std::string& data) {
    const std::string text = "event: " + name + "\ndata: " + data + "\n\n";
    std::vector<std::shared_ptr<Stream>> woken;
    {
        std::lock_guard lock(mutex_);
        for (const auto& stream : streams_) {
            if (stream->dropped) continue;
            if (stream->events >= maxPending_) {
                stream->dropped = true;
                stream->pending.clear();
            } else {
                stream->pending += text;
                ++stream->events;
            }
            woken.push_back(stream);
        }
    }
    wakeAll(woken);
}

std::optional<std::string> EventHub::take(Stream& stream) {
    std::lock_guard lock(mutex_);
    if (closed_ || stream.dropped) return std::nullopt;
    std::string text;
    text.swap(stream.pending);
    stream.events = 0;
    return text;
}

void EventHub::shutdown() {
    std::vector<std::shared_ptr<Stream>> woken;
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        woken = streams_;
    }
    wakeAll(woken);
}

void EventHub::wakeAll(const std::vector<std::shared_ptr<Stream>>& streams) {
    for (const auto& stream : streams)
        if (stream->wake) stream->wake();
}

size_t EventHub::streams() const {
    std::lock_guard lock(mutex_);
    return streams_.size();
}

}  // namespace quillon::cli::serve
