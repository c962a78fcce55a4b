#include "event_hub.h"

#include <algorithm>

namespace quillon::cli::serve {

std::shared_ptr<EventHub::Stream> EventHub::open() {
    std::lock_guard lock(mutex_);
    if (closed_ || streams_.size() >= maxStreams_) return nullptr;
    streams_.push_back(std::make_shared<Stream>());
    return streams_.back();
}

void EventHub::close(const std::shared_ptr<Stream>& stream) {
    std::lock_guard lock(mutex_);
    std::erase(streams_, stream);
}

void EventHub::publish(const std::string& name, const std::string& data) {
    const std::string text = "event: " + name + "\ndata: " + data + "\n\n";
    {
        std::lock_guard lock(mutex_);
        for (const auto& stream : streams_) {
            if (stream->dropped) continue;
            if (stream->pending.size() >= maxPending_) {
                stream->dropped = true;
                stream->pending.clear();
                continue;
            }
            stream->pending.push_back(text);
        }
    }
    changed_.notify_all();
}

std::optional<std::string> EventHub::next(Stream& stream, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, wait,
                      [&] { return closed_ || stream.dropped || !stream.pending.empty(); });
    if (closed_ || stream.dropped) return std::nullopt;
    if (stream.pending.empty()) return std::string();
    std::string text = std::move(stream.pending.front());
    stream.pending.pop_front();
    return text;
}

void EventHub::shutdown() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

size_t EventHub::streams() const {
    std::lock_guard lock(mutex_);
    return streams_.size();
}

}  // namespace quillon::cli::serve
