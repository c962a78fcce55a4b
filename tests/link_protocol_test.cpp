// Report framing and reply handling of the link, checked on the wire as the
// simulated module receives it and through every result code.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "sim/hid_api.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

using link::exchange;
using link::readStatus;
using link::sendRequest;
using sim::Fault;

class LinkProtocolTest : public SimLinkTest {
  protected:
    // A scan image of `size` bytes 0, 1, 2, ... (mod 251), served in pieces.
    void serveScanImage(size_t size) {
        module().setScanProducer([size](const sim::ScanContext&) {
            std::vector<uint8_t> image(size);
            for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i % 251);
            return image;
        });
        ASSERT_EQ(link::startScan(), 0);
        uint32_t announced = 0;
        ASSERT_GT(link::readScanDataSize(announced), 0);
        ASSERT_EQ(announced, size);
    }
    int readVersionsExchange() { return exchange(0x16, 0x02, nullptr, 0); }
};

TEST_F(LinkProtocolTest, EveryOperationFailsWithoutModule) {
    const uint8_t message[7] = {0x40, 0, 3, 0, 0x24, 0x02, 1};
    EXPECT_EQ(sendRequest(message, sizeof message), link::kLinkNoModule);
    EXPECT_EQ(readStatus(), link::kLinkNoModule);
    EXPECT_EQ(exchange(0x16, 0x02, nullptr, 0), link::kLinkNoModule);
    uint32_t words[7] = {};
    EXPECT_EQ(link::readVersions(words), link::kLinkNoModule);
    EXPECT_EQ(link::setActiveScanIndexCommand(1), link::kLinkNoModule);
    EXPECT_TRUE(module().receivedReports().empty());
}

TEST_F(LinkProtocolTest, WriteSequenceWrapsAndReadsCarryZero) {
    ASSERT_TRUE(openFirst());
    ASSERT_EQ(link::setAverageCount(1), 0);
    const uint8_t first = request()[1];
    for (int i = 1; i <= 300; ++i) {
        ASSERT_EQ(link::setAverageCount(1), 0);
        ASSERT_EQ(request()[1], static_cast<uint8_t>(first + i)) << "write " << i;
        if (i % 50 == 0) {
            uint8_t count = 0;
            ASSERT_GT(link::readScanConfigCount(count), 0);
            EXPECT_EQ(request()[0], 0xC0);
            EXPECT_EQ(request()[1], 0);
        }
    }
    // The counter went through 255 -> 0 somewhere in 300 writes, and reads did not advance it.
    bool wrapped = false;
    const auto& requests = module().requests();
    for (size_t i = 1; i < requests.size(); ++i) {
        if (requests[i].flags == 0x40 && requests[i - 1].flags == 0x40 &&
            requests[i - 1].sequence == 255) {
            EXPECT_EQ(requests[i].sequence, 0);
            wrapped = true;
        }
    }
    EXPECT_TRUE(wrapped);
    // Closing and opening again keeps counting.
    link::closeModule();
    ASSERT_TRUE(openFirst());
    ASSERT_EQ(link::setAverageCount(1), 0);
    EXPECT_EQ(request()[1], static_cast<uint8_t>(first + 301));
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(LinkProtocolTest, SendRequestCutsMessagesIntoReportsAndZeroesTheRest) {
    ASSERT_TRUE(openFirst());
    // A long message full of 0xAA first, so stale bytes would show afterwards.
    uint8_t longMessage[192];
    std::memset(longMessage, 0xAA, sizeof longMessage);
    longMessage[0] = 0x40;
    longMessage[1] = link::nextSequence();
    longMessage[2] = 128;
    longMessage[3] = 0;
    longMessage[4] = 0x1F;
    longMessage[5] = 0x02;
    module().clearLog();
    EXPECT_EQ(sendRequest(longMessage, sizeof longMessage), 192);
    ASSERT_EQ(module().receivedReports().size(), 3u);
    EXPECT_EQ(std::memcmp(module().receivedReports()[0].data(), longMessage, 64), 0);
    EXPECT_EQ(std::memcmp(module().receivedReports()[1].data(), longMessage + 64, 64), 0);
    EXPECT_EQ(std::memcmp(module().receivedReports()[2].data(), longMessage + 128, 64), 0);
    // Not a configuration image: the module says so with a non-zero status.
    EXPECT_GT(readStatus(), 0);

    // Three data bytes: length 5, one report, result 9, nothing after byte 8.
    const uint8_t shortMessage[9] = {0x40, link::nextSequence(), 5, 0, 0x77, 0x02, 1, 2, 3};
    module().clearLog();
    EXPECT_EQ(sendRequest(shortMessage, sizeof shortMessage), 9);
    ASSERT_EQ(module().receivedReports().size(), 1u);
    const sim::Report& report = module().receivedReports()[0];
    EXPECT_EQ(std::memcmp(report.data(), shortMessage, 9), 0);
    for (size_t i = 9; i < 64; ++i) EXPECT_EQ(report[i], 0) << "byte " << i;
    // The module does not know command 0x77 and refuses it with failure flag bit 4.
    EXPECT_EQ(readStatus(), link::kLinkFlag4);
    ASSERT_EQ(module().protocolErrors().size(), 1u);

    // A message shorter than its own length field is not sent at all.
    const uint8_t truncated[6] = {0x40, 0, 5, 0, 0x24, 0x02};
    module().clearLog();
    EXPECT_EQ(sendRequest(truncated, sizeof truncated), link::kLinkNoModule);
    EXPECT_TRUE(module().receivedReports().empty());
}

TEST_F(LinkProtocolTest, ExchangeCountsWholeReportsOfTheReply) {
    ASSERT_TRUE(openFirst());
    // READ_VERSIONS: length 28, one report.
    EXPECT_EQ(readVersionsExchange(), 64);
    EXPECT_EQ(link::replyPayloadLength(), 28u);
    // Scan data pieces: 580 bytes (ten reports), then 100 (two reports).
    serveScanImage(680);
    module().clearLog();
    EXPECT_EQ(exchange(0x2E, 0x00, nullptr, 0), 640);
    EXPECT_EQ(module().reportsOut(), 10u);
    ASSERT_EQ(link::replyPayloadLength(), 580u);
    for (size_t i = 0; i < 580; ++i) ASSERT_EQ(link::replyPayload()[i], i % 251) << i;
    EXPECT_EQ(exchange(0x2E, 0x00, nullptr, 0), 128);
    ASSERT_EQ(link::replyPayloadLength(), 100u);
    for (size_t i = 0; i < 100; ++i) ASSERT_EQ(link::replyPayload()[i], (580 + i) % 251) << i;
    // Every reply read waits with the configured time-out; the stale-input check waits 0.
    for (int timeout : sim::hidCalls().readTimeouts) EXPECT_TRUE(timeout == 20000 || timeout == 0);
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(LinkProtocolTest, ExchangeResultCodesFromTheModule) {
    ASSERT_TRUE(openFirst());
    const struct {
        Fault fault;
        int expected;
    } cases[] = {
        {Fault::FailureFlag4, link::kLinkFlag4}, {Fault::FailureFlag5, link::kLinkFlag5},
        {Fault::BothFailureFlags, 64},           {Fault::ZeroLength, link::kLinkFlag4},
        {Fault::NoReply, link::kLinkTimeout},
    };
    for (const auto& c : cases) {
        module().injectFault(c.fault, link::kReadVersions);
        EXPECT_EQ(readVersionsExchange(), c.expected) << static_cast<int>(c.fault);
        // The link recovers for the next request.
        EXPECT_EQ(readVersionsExchange(), 64);
    }
    // A failure leaves no payload behind to be mistaken for a reply.
    module().injectFault(Fault::FailureFlag5, link::kReadVersions);
    EXPECT_EQ(readVersionsExchange(), link::kLinkFlag5);
    EXPECT_EQ(link::replyPayloadLength(), 0u);
    // The module gone after taking the request: the first read fails -> 0.
    module().injectFault(Fault::Unplug, link::kReadVersions, 1, 1);
    EXPECT_EQ(readVersionsExchange(), 0);
    // Gone for good: writing fails.
    EXPECT_EQ(readVersionsExchange(), link::kLinkNoModule);
}

TEST_F(LinkProtocolTest, ReadStatusValues) {
    ASSERT_TRUE(openFirst());
    auto sendSetActive = [] {
        const uint8_t message[7] = {0x40, link::nextSequence(), 3, 0, 0x24, 0x02, 1};
        return sendRequest(message, sizeof message);
    };
    ASSERT_EQ(sendSetActive(), 7);
    EXPECT_EQ(readStatus(), 0);
    const struct {
        Fault fault;
        uint32_t value;
        int expected;
    } cases[] = {
        {Fault::WriteStatus, 1, 1},  // payload 01 00 00 00
        {Fault::WriteStatus, 0x12345678, 0x12345678},
        {Fault::OversizedLength, 2, 0},  // length 2: no 32-bit value
        {Fault::FailureFlag4, 0, link::kLinkFlag4},
        {Fault::FailureFlag5, 0, link::kLinkFlag5},
        {Fault::BothFailureFlags, 0, 0},
        {Fault::NoReply, 0, link::kLinkTimeout},
        {Fault::TruncatedRead, 0, link::kLinkFlag4},
        {Fault::TruncatedRead, 7, link::kLinkFlag4},  // seven of the eight bytes needed
        {Fault::Unplug, 1, link::kLinkNoModule},
    };
    for (const auto& c : cases) {
        module().injectFault(c.fault, link::kSetActiveScanIndex, 1, c.value);
        ASSERT_EQ(sendSetActive(), 7);
        EXPECT_EQ(readStatus(), c.expected) << static_cast<int>(c.fault) << " " << c.value;
    }
    EXPECT_EQ(sendSetActive(), link::kLinkNoModule);
    EXPECT_EQ(module().state().activeIndex, 1);
}

TEST_F(LinkProtocolTest, OversizedReplyIsRefusedAndNothingOverflows) {
    ASSERT_TRUE(openFirst());
    // 581 payload bytes: one more than the buffer takes. 640 would fill all ten
    // reports, 65000 would run far past any buffer.
    for (uint32_t announced : {581u, 640u, 65000u}) {
        module().injectFault(Fault::OversizedLength, link::kReadVersions, 1, announced);
        EXPECT_EQ(readVersionsExchange(), link::kLinkFlag4) << announced;
        EXPECT_EQ(link::replyPayloadLength(), 0u);
        // The rest of that reply is dropped before the next request.
        uint32_t words[7] = {};
        EXPECT_GT(link::readVersions(words), 0);
        EXPECT_EQ(words[0], module().state().versions[0]);
    }
    // 580 is the largest reply and works.
    module().injectFault(Fault::OversizedLength, link::kReadVersions, 1, 580);
    EXPECT_EQ(readVersionsExchange(), 640);
    EXPECT_EQ(link::replyPayloadLength(), 580u);
}

TEST_F(LinkProtocolTest, MissingLaterReportIsAFailure) {
    ASSERT_TRUE(openFirst());
    // Calibration reply: 76 bytes in two reports.
    ASSERT_EQ(exchange(0x2A, 0x02, nullptr, 0), 128);
    // Second report never comes: time-out, not a half reply.
    module().injectFault(Fault::ShortReply, link::kReadCalibrationCoefficients);
    EXPECT_EQ(exchange(0x2A, 0x02, nullptr, 0), link::kLinkTimeout);
    EXPECT_EQ(link::replyPayloadLength(), 0u);
    // One-report reply announcing 100 bytes: the second report is missing.
    module().injectFault(Fault::ShortReply, link::kReadVersions);
    EXPECT_EQ(readVersionsExchange(), link::kLinkTimeout);
    // Second report read fails: read failure, not success.
    module().injectFault(Fault::Unplug, link::kReadCalibrationCoefficients, 1, 2);
    EXPECT_EQ(exchange(0x2A, 0x02, nullptr, 0), link::kLinkNoModule);
}

TEST_F(LinkProtocolTest, ShortReadsCountOnlyWhatArrived) {
    ASSERT_TRUE(openFirst());
    // Two bytes: not even a header.
    module().injectFault(Fault::TruncatedRead, link::kReadVersions, 1, 2);
    EXPECT_EQ(readVersionsExchange(), link::kLinkFlag4);
    // 40 bytes hold all 32 of the versions reply: complete, and 40 is what arrived.
    module().injectFault(Fault::TruncatedRead, link::kReadVersions, 1, 40);
    EXPECT_EQ(readVersionsExchange(), 40);
    EXPECT_EQ(link::replyPayloadLength(), 28u);
    // 31 bytes of 32: incomplete.
    module().injectFault(Fault::TruncatedRead, link::kReadVersions, 1, 31);
    EXPECT_EQ(readVersionsExchange(), link::kLinkFlag4);
    // A short first report of a two-report reply loses bytes in the middle.
    module().injectFault(Fault::TruncatedRead, link::kReadCalibrationCoefficients, 1, 40);
    EXPECT_EQ(exchange(0x2A, 0x02, nullptr, 0), link::kLinkFlag4);
    EXPECT_EQ(readVersionsExchange(), 64);
}

TEST_F(LinkProtocolTest, LateReplyIsNotTakenForTheNextAnswer) {
    ASSERT_TRUE(openFirst());
    module().state().activeIndex = 2;
    module().injectFault(Fault::LateReply, link::kReadActiveScanIndex);
    uint8_t index = 0;
    EXPECT_EQ(link::readActiveScanIndex(index), link::kLinkTimeout);
    EXPECT_EQ(module().waitingReports(), 1u);  // the late reply has arrived meanwhile
    // Without the stale input dropped, the 1-byte index reply would be read as versions.
    uint32_t words[7] = {};
    EXPECT_GT(link::readVersions(words), 0);
    EXPECT_EQ(std::memcmp(words, module().state().versions, sizeof words), 0);
    EXPECT_EQ(module().waitingReports(), 0u);

    // The same after a write whose status came late.
    module().injectFault(Fault::LateReply, link::kSetActiveScanIndex);
    EXPECT_EQ(link::setActiveScanIndexCommand(1), link::kLinkTimeout);
    uint32_t status = 0xFFFF;
    EXPECT_GT(link::readDeviceStatus(status), 0);
    EXPECT_EQ(status, 0u);
    ASSERT_GT(link::readActiveScanIndex(index), 0);
    EXPECT_EQ(index, 1);
    // A late status before a write's own status.
    module().injectFault(Fault::LateReply, link::kSetAverageCount, 1);
    EXPECT_EQ(link::setAverageCount(3), link::kLinkTimeout);
    module().injectFault(Fault::WriteStatus, link::kSetActiveScanIndex, 1, 7);
    EXPECT_EQ(link::setActiveScanIndexCommand(0), 7);
}

}  // namespace
}  // namespace quillon::test
