// The parts of `quillon publish` that need no broker: the queue (what a long
// outage keeps, drops and sends), the broker address, the commands.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "broker_url.h"
#include "module_command.h"
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

namespace quillon::cli::publish {
namespace {

TEST(PublishBrokerUrl, SchemesPortsAndRefusals) {
    BrokerSettings b;
    EXPECT_FALSE(parseBrokerUrl("mqtt://broker.lab", b));
    EXPECT_EQ(std::tie(b.host, b.port, b.tls),
              std::make_tuple(std::string("broker.lab"), 1883, false));
    EXPECT_FALSE(parseBrokerUrl("mqtts://10.0.0.7/", b));
    EXPECT_EQ(std::tie(b.host, b.port, b.tls),
              std::make_tuple(std::string("10.0.0.7"), 8883, true));
    EXPECT_FALSE(parseBrokerUrl("mqtt://[fe80::1]:18830", b));
    EXPECT_EQ(std::tie(b.host, b.port, b.tls),
              std::make_tuple(std::string("fe80::1"), 18830, false));
    for (const char* bad : {"tcp://h", "mqtt://", "mqtt://h:", "mqtt://h:70000", "mqtt://h:1x",
                            "mqtt://[::1", "mqtt://[::1]x", "mqtt://u@h", "mqtt://h/path"})
        EXPECT_TRUE(parseBrokerUrl(bad, b)) << bad;
}

TEST(PublishCommand, ReadsEveryFieldOfTheOps) {
    ParsedCommand p = parseCommand(
        R"({"id": "a7", "op": "series", "count": 0, "interval_s": 2.5, "average": 4,
            "lamp": "off", "sample": "flour", "comment": "bin 3"})");
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_EQ(p.id, "a7");
    EXPECT_EQ(p.command->op, Op::Series);
    EXPECT_EQ(p.command->count, 0u);
    EXPECT_EQ(p.command->intervalSeconds, 2.5);
    EXPECT_EQ(p.command->scan.average, 4u);
    EXPECT_EQ(p.command->scan.lamp, LampRequest::Off);
    EXPECT_EQ(p.command->scan.sample, "flour");
    EXPECT_EQ(p.command->scan.comment, "bin 3");
    p = parseCommand(R"({"op": "activate", "position": 3.0})");  // 3.0 is whole
    ASSERT_TRUE(p.command) << p.error;
    EXPECT_TRUE(p.id.is_null());
    EXPECT_EQ(p.command->position, 3u);
    p = parseCommand(R"({"id": 9, "op": "scan", "average": 1001})");
    EXPECT_FALSE(p.command);
    EXPECT_EQ(p.id, 9);
    EXPECT_EQ(p.error, "average must be from 1 to 1000");
    p = parseCommand(R"({"id": 10, "op": "series", "count": 1e300})");
    EXPECT_EQ(p.error, "count must be from 0 to 1000000");
    p = parseCommand(R"({"id": 11, "op": "scan", "sample": ")" + std::string(1100, 'x') + "\"}");
    EXPECT_EQ(p.error, "sample is longer than 1024 bytes");
}

}  // namespace
}  // namespace quillon::cli::publish
