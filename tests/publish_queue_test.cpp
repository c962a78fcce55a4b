// The queue of `quillon publish`: what a long outage keeps, drops and sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "spectrum_queue.h"

namespace quillon::cli::publish {
namespace {

struct Wire {
    std::vector<std::string> sent;
    bool up = true;
    SpectrumQueue::Send send() {
        return [this](const std::string& payload) -> std::optional<int> {
            if (!up) return std::nullopt;
            sent.push_back(payload);
            return static_cast<int>(sent.size());  // message ids 1, 2, ...
        };
    }
};

TEST(PublishQueue, KeepsOrderDropsTheOldestWaitingAndReleasesOnAcknowledgement) {
    SpectrumQueue queue(3, 2);
    Wire wire;
    for (const char* p : {"1", "2", "3"}) queue.push(p);
    queue.pump(wire.send());
    EXPECT_EQ(wire.sent, (std::vector<std::string>{"1", "2"}));  // the window is two
    EXPECT_EQ(queue.inFlight(), 2u);

    // The broker is away: in flight stays, three wait, the oldest waiting goes first.
    wire.up = false;
    for (const char* p : {"4", "5", "6", "7"}) queue.push(p);
    queue.pump(wire.send());
    EXPECT_EQ(queue.size(), 5u);
    EXPECT_EQ(queue.dropped(), 2u);  // "3" and "4"

    wire.up = true;
    EXPECT_FALSE(queue.acknowledge(99));  // another message's
    EXPECT_TRUE(queue.acknowledge(2));
    EXPECT_FALSE(queue.acknowledge(2));  // only once
    queue.pump(wire.send());
    EXPECT_TRUE(queue.acknowledge(1));
    queue.pump(wire.send());
    EXPECT_EQ(wire.sent, (std::vector<std::string>{"1", "2", "5", "6"}));
    for (int mid : {3, 4}) EXPECT_TRUE(queue.acknowledge(mid));
    queue.pump(wire.send());
    EXPECT_TRUE(queue.acknowledge(5));
    EXPECT_EQ(wire.sent.back(), "7");
    EXPECT_TRUE(queue.waitEmpty(std::chrono::steady_clock::now()));
    EXPECT_EQ(queue.dropped(), 2u);
}

}  // namespace
}  // namespace quillon::cli::publish
