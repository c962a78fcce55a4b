// The link as the module sees it: the bytes of every command on the wire, the
// report framing, and what each reply (sound or damaged) turns into.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "sim/hid_api.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

using link::exchange;
using sim::Fault;

class Link : public SimLinkTest {
  protected:
    void SetUp() override {
        SimLinkTest::SetUp();
        ASSERT_TRUE(openFirst());
    }
    int readVersionsExchange() { return exchange(testLink(), link::kReadVersions).result; }
};

TEST_F(Link, WireBytesOfEveryCommand) {
    const int E = 0xEE;  // stands for the sequence number
    uint32_t words[7], word;
    uint8_t byte, image[200];
    CalibrationCoefficients cal;
    size_t size;
    // Lamp on: 00, then 01 01. Lamp off: 01, then 00 00.
    const struct {
        std::function<void()> send;
        std::vector<uint8_t> wire;  // all later bytes of the report are zero
    } cases[] = {
        {[] { link::setActiveScanIndexCommand(testLink(), 3); },
         bytes({0x40, E, 3, 0, 0x24, 0x02, 0x03})},
        {[&] { link::readScanConfig(testLink(), 2, image, sizeof image, size); },
         bytes({0xC0, 0, 6, 0, 0x20, 0x02, 0x02, 0, 0, 0})},
        {[&] { link::readScanDataSize(testLink(), word); },
         bytes({0xC0, 0, 6, 0, 0x2D, 0x00, 0, 0, 0, 0})},
        {[] { link::lampOffControl(testLink(), 0); }, bytes({0x40, E, 3, 0, 0x25, 0x02, 0x00})},
        {[] { link::lampOnControl(testLink(), 1); },
         bytes({0x40, E, 4, 0, 0x05, 0x01, 0x01, 0x01})},
        {[] { link::lampOffControl(testLink(), 1); }, bytes({0x40, E, 3, 0, 0x25, 0x02, 0x01})},
        {[] { link::lampOnControl(testLink(), 0); },
         bytes({0x40, E, 4, 0, 0x05, 0x01, 0x00, 0x00})},
        {[&] { link::readVersions(testLink(), words); }, bytes({0xC0, 0, 2, 0, 0x16, 0x02})},
        {[&] { link::readActiveScanIndex(testLink(), byte); }, bytes({0xC0, 0, 2, 0, 0x23, 0x02})},
        {[&] { link::readEstimatedScanTime(testLink(), word); },
         bytes({0xC0, 0, 2, 0, 0x37, 0x02})},
        {[&] { link::readCalibrationCoefficients(testLink(), cal); },
         bytes({0xC0, 0, 2, 0, 0x2A, 0x02})},
        {[&] { link::readScanConfigCount(testLink(), byte); }, bytes({0xC0, 0, 2, 0, 0x22, 0x02})},
        {[] { link::setAverageCount(testLink(), 0x1234); },
         bytes({0x40, E, 4, 0, 0x2E, 0x02, 0x34, 0x12})},
        {[] { link::preScanSetting(testLink()); }, bytes({0x40, E, 4, 0, 0x0C, 0x04, 0x00, 0x40})},
        {[] { link::startScan(testLink()); }, bytes({0x40, E, 3, 0, 0x18, 0x02, 0x00})},
        {[&] { link::readDeviceStatus(testLink(), word); }, bytes({0xC0, 0, 2, 0, 0x03, 0x04})},
        {[&] { link::readScanDataChunk(testLink(), image, sizeof image, size); },
         bytes({0xC0, 0, 2, 0, 0x2E, 0x00})},
        {[] { link::eraseScanConfigs(testLink()); }, bytes({0x40, E, 3, 0, 0x21, 0x02, 0x5A})},
    };
    for (const auto& c : cases) {
        c.send();
        std::vector<uint8_t> sent = request();
        if (sent[0] == 0x40) sent[1] = E;
        sent.resize(std::max<size_t>(sent.size(), 64));
        std::vector<uint8_t> want = c.wire;
        want.resize(64);
        EXPECT_EQ(head(sent, 64), want) << testing::PrintToString(c.wire);
        if (c.wire[4] == 0x05) {
            EXPECT_EQ(module().state().lampOn, c.wire[6] == 1);
        }
    }
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(Link, WriteSequenceWrapsAndReadsCarryZero) {
    ASSERT_EQ(link::setAverageCount(testLink(), 1), 0);
    const uint8_t first = request()[1];
    for (int i = 1; i <= 300; ++i) {
        ASSERT_EQ(link::setAverageCount(testLink(), 1), 0);
        ASSERT_EQ(request()[1], static_cast<uint8_t>(first + i))
            << "write " << i;  // wraps 255 -> 0
        if (i % 50 == 0) {
            uint8_t count = 0;
            ASSERT_GT(link::readScanConfigCount(testLink(), count), 0);
            EXPECT_EQ(head(request(), 2), bytes({0xC0, 0}));
        }
    }
    // Closing and opening again keeps counting.
    link::closeModule(testLink());
    ASSERT_TRUE(openFirst());
    ASSERT_EQ(link::setAverageCount(testLink(), 1), 0);
    EXPECT_EQ(request()[1], static_cast<uint8_t>(first + 301));
}

TEST_F(Link, WriteScanConfigAlwaysSendsThreeReports) {
    const sim::Image sectioned = module().state().configImages[1];  // 155 bytes
    const sim::Image single = module().state().configImages[0];     // 91 bytes
    ASSERT_EQ(link::eraseScanConfigs(testLink()), 0);
    for (const sim::Image* image : {&sectioned, &single}) {
        const uint8_t position = image == &sectioned ? 0 : 1;
        module().clearLog();
        ASSERT_EQ(link::writeScanConfig(testLink(), position, image->data(), image->size()), 0);
        ASSERT_EQ(module().receivedReports().size(), 3u);
        const std::vector<uint8_t> message = request();
        ASSERT_EQ(message.size(), 192u);
        EXPECT_EQ(head(message, 9), bytes({0x40, message[1], 0x80, 0x00, 0x1F, 0x02, 0x00, position,
                                           static_cast<int>(image->size())}));
        // The whole image arrives, also where it runs past the announced 128 bytes.
        EXPECT_EQ(std::vector<uint8_t>(message.begin() + 9, message.begin() + 9 + image->size()),
                  *image);
        for (size_t i = 9 + image->size(); i < 192; ++i) ASSERT_EQ(message[i], 0) << i;
    }
    EXPECT_EQ(module().state().configImages, (std::vector<sim::Image>{sectioned, single}));
    // An image that cannot travel in the message is not sent.
    module().clearLog();
    const std::vector<uint8_t> huge(184, 1);
    EXPECT_EQ(link::writeScanConfig(testLink(), 0, huge.data(), huge.size()), link::kLinkNoModule);
    EXPECT_TRUE(module().receivedReports().empty());
}

TEST_F(Link, ExchangeResultsForEveryKindOfReply) {
    // READ_VERSIONS: 28 bytes in one report; the calibration: 76 in two.
    EXPECT_EQ(readVersionsExchange(), 64);
    EXPECT_EQ(exchange(testLink(), link::kReadVersions).payload.size(), 28u);
    EXPECT_EQ(exchange(testLink(), link::kReadCalibrationCoefficients).result, 128);
    const struct {
        Fault fault;
        link::CommandCode command;
        uint32_t value;
        int expected;
    } cases[] = {
        {Fault::FailureFlag4, link::kReadVersions, 0, link::kLinkFlag4},
        {Fault::FailureFlag5, link::kReadVersions, 0, link::kLinkFlag5},
        {Fault::BothFailureFlags, link::kReadVersions, 0, 64},
        {Fault::ZeroLength, link::kReadVersions, 0, link::kLinkFlag4},
        {Fault::NoReply, link::kReadVersions, 0, link::kLinkTimeout},
        // 581 payload bytes is one more than the buffer takes; 580 fills it.
        {Fault::OversizedLength, link::kReadVersions, 581, link::kLinkFlag4},
        {Fault::OversizedLength, link::kReadVersions, 65000, link::kLinkFlag4},
        {Fault::OversizedLength, link::kReadVersions, 580, 640},
        // A later report that never comes is a time-out, not a half reply.
        {Fault::ShortReply, link::kReadCalibrationCoefficients, 0, link::kLinkTimeout},
        {Fault::ShortReply, link::kReadVersions, 0, link::kLinkTimeout},
        {Fault::Unplug, link::kReadCalibrationCoefficients, 2, link::kLinkNoModule},
        // Short reads count only what arrived: 40 bytes hold all 32 of the reply.
        {Fault::TruncatedRead, link::kReadVersions, 2, link::kLinkFlag4},
        {Fault::TruncatedRead, link::kReadVersions, 31, link::kLinkFlag4},
        {Fault::TruncatedRead, link::kReadVersions, 40, 40},
        {Fault::TruncatedRead, link::kReadCalibrationCoefficients, 40, link::kLinkFlag4},
        // Gone after taking the request: the first read fails.
        {Fault::Unplug, link::kReadVersions, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.fault) << " value " << c.value);
        module().injectFault(c.fault, c.command, 1, c.value);
        const link::Reply reply = exchange(testLink(), c.command);
        EXPECT_EQ(reply.result, c.expected);
        if (reply.result <= 0) {
            EXPECT_TRUE(reply.payload.empty()) << "no payload handed out";
        }
        if (!module().plugged()) {
            EXPECT_EQ(readVersionsExchange(), link::kLinkNoModule) << "gone for good";
            link::closeModule(testLink());
            module().replug();
            ASSERT_TRUE(openFirst());
        }
        // The rest of a refused reply is dropped; the next request gets its own answer.
        uint32_t words[7] = {};
        EXPECT_GT(link::readVersions(testLink(), words), 0);
        EXPECT_EQ(std::memcmp(words, module().state().versions, sizeof words), 0);
    }
    // A scan image of 680 bytes comes in pieces of 580 (ten reports) and 100 (two).
    module().setScanProducer([](const sim::ScanContext&) {
        std::vector<uint8_t> image(680);
        for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i % 251);
        return image;
    });
    uint32_t announced = 0;
    ASSERT_EQ(link::startScan(testLink()), 0);
    ASSERT_GT(link::readScanDataSize(testLink(), announced), 0);
    link::Reply reply = exchange(testLink(), link::kReadScanDataChunk);
    EXPECT_EQ(reply.result, 640);
    ASSERT_EQ(reply.payload.size(), 580u);
    EXPECT_EQ(reply.payload[579], 579 % 251);
    reply = exchange(testLink(), link::kReadScanDataChunk);
    EXPECT_EQ(reply.result, 128);
    ASSERT_EQ(reply.payload.size(), 100u);
    EXPECT_EQ(reply.payload[99], (580 + 99) % 251);
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(Link, ReadStatusValues) {
    const struct {
        Fault fault;
        uint32_t value;
        int expected;
    } cases[] = {
        {Fault::WriteStatus, 1, 1},
        {Fault::WriteStatus, 0x12345678, 0x12345678},
        {Fault::OversizedLength, 2, 0},  // length 2: no 32-bit value
        {Fault::FailureFlag4, 0, link::kLinkFlag4},
        {Fault::FailureFlag5, 0, link::kLinkFlag5},
        {Fault::BothFailureFlags, 0, 0},
        {Fault::NoReply, 0, link::kLinkTimeout},
        {Fault::TruncatedRead, 7, link::kLinkFlag4},  // seven of the eight bytes needed
        {Fault::Unplug, 1, link::kLinkNoModule},
    };
    for (const auto& c : cases) {
        module().injectFault(c.fault, link::kSetActiveScanIndex, 1, c.value);
        EXPECT_EQ(link::setActiveScanIndexCommand(testLink(), 1), c.expected)
            << static_cast<int>(c.fault) << " " << c.value;
    }
    EXPECT_EQ(link::setActiveScanIndexCommand(testLink(), 1), link::kLinkNoModule);
    // A status that is not 0 counts against the command.
    module().replug();
    link::closeModule(testLink());
    ASSERT_TRUE(openFirst());
    EXPECT_EQ(link::setActiveScanIndexCommand(testLink(), 9), 1);  // no such configuration
    for (Fault fault : {Fault::WriteStatus, Fault::NoReply, Fault::FailureFlag4}) {
        module().injectFault(fault, link::kPreScanSetting, 1, 5);
        EXPECT_EQ(link::preScanSetting(testLink()), 1);
    }
    EXPECT_EQ(link::preScanSetting(testLink()), 0);
}

TEST_F(Link, RepliesDecodeOnlyWhenTheirSizesFit) {
    uint32_t words[7];
    std::memset(words, 0x11, sizeof words);
    module().injectFault(Fault::OversizedLength, link::kReadVersions, 1, 20);  // under seven words
    EXPECT_EQ(link::readVersions(testLink(), words), link::kLinkFlag4);
    EXPECT_EQ(words[0], 0x11111111u) << "nothing stored";
    uint32_t word = 77;
    module().injectFault(Fault::OversizedLength, link::kReadDeviceStatus, 1, 3);
    EXPECT_EQ(link::readDeviceStatus(testLink(), word), link::kLinkFlag4);
    EXPECT_EQ(word, 77u);

    // READ_SCAN_CONFIG: the image's size field must fit the reply and the caller.
    uint8_t image[512];
    size_t size = 1234;
    ASSERT_GT(link::readScanConfig(testLink(), 2, image, sizeof image, size), 0);
    EXPECT_EQ(sim::Image(image, image + size), module().state().configImages[2]);
    size = 1234;
    module().injectFault(Fault::WrongSizeField, link::kReadScanConfig, 1, 156);
    EXPECT_EQ(link::readScanConfig(testLink(), 2, image, sizeof image, size), link::kLinkFlag4);
    EXPECT_EQ(link::readScanConfig(testLink(), 2, image, 154, size), link::kLinkFlag4);
    EXPECT_EQ(size, 1234u);
    ASSERT_GT(link::readScanConfig(testLink(), 2, image, 155, size), 0);
    EXPECT_EQ(size, 155u);
    ASSERT_GT(link::readScanConfig(testLink(), 7, image, sizeof image, size), 0);
    EXPECT_EQ(size, 0u) << "no configuration at that index";

    // A calibration reply that is no calibration image changes nothing.
    CalibrationCoefficients cal{};
    ASSERT_GT(link::readCalibrationCoefficients(testLink(), cal), 0);
    EXPECT_EQ(cal.pixelToNmCoeffs[1], -0.92);
    EXPECT_EQ(cal.rowShiftCoeffs[2], 0.000015);
    const CalibrationCoefficients before = cal;
    for (Fault fault : {Fault::Garbled, Fault::WrongSizeField}) {
        module().injectFault(fault, link::kReadCalibrationCoefficients, 1, 0x11223344);
        EXPECT_EQ(link::readCalibrationCoefficients(testLink(), cal), link::kLinkFlag4);
        EXPECT_EQ(std::memcmp(&cal, &before, sizeof cal), 0);
    }

    // Scan data pieces must fit the caller's room.
    module().setScanProducer([](const sim::ScanContext&) { return std::vector<uint8_t>(700, 9); });
    ASSERT_EQ(link::startScan(testLink()), 0);
    ASSERT_GT(link::readScanDataSize(testLink(), word), 0);
    uint8_t piece[580];
    size_t length = 0;
    EXPECT_EQ(link::readScanDataChunk(testLink(), piece, 579, length), link::kLinkFlag4);
    EXPECT_EQ(length, 0u);
    ASSERT_GT(link::readScanDataSize(testLink(), word), 0);  // starts the pieces over
    ASSERT_EQ(link::readScanDataChunk(testLink(), piece, sizeof piece, length), 640);
    EXPECT_EQ(length, 580u);
    ASSERT_EQ(link::readScanDataChunk(testLink(), piece, sizeof piece, length), 128);
    EXPECT_EQ(length, 120u);
    EXPECT_EQ(link::readScanDataChunk(testLink(), piece, sizeof piece, length), link::kLinkFlag4);
}

TEST_F(Link, OpensThroughTheLoadedHidLayer) {
    // The layer the library loads is the simulator's object this program
    // links: the very same functions, so its control interface drives it.
    EXPECT_EQ(simHid().init, &hid_init);
    EXPECT_EQ(simHid().readTimeout, &hid_read_timeout);
    EXPECT_FALSE(openFirst()) << "refused while one is open";
    link::closeModule(testLink());
    sim::bus().reset(2);
    sim::resetHidCalls();
    ASSERT_TRUE(openFirst());
    EXPECT_EQ(sim::hidCalls().openSerials,
              (std::vector<std::optional<std::wstring>>{std::nullopt}));
    uint8_t count = 0;
    link::setReadTimeout(testLink(), 1234);
    EXPECT_GT(link::readScanConfigCount(testLink(), count), 0);
    // Stale input is looked for without waiting; the reply is waited for.
    EXPECT_EQ(sim::hidCalls().readTimeouts, (std::vector<int>{0, 1234}));
    link::closeModule(testLink());
    EXPECT_EQ(sim::hidCalls().liveHandles, 0);
    EXPECT_EQ(link::readScanConfigCount(testLink(), count), link::kLinkNoModule);

    // A serial number chooses among several; one nobody has, or another product, opens nothing.
    const auto open = [](uint16_t product, const wchar_t* serial) {
        return link::openModule(testLink(), simHid(), link::kModuleVendorId, product, serial);
    };
    EXPECT_FALSE(open(link::kModuleProductId, L"NOPE"));
    EXPECT_FALSE(open(0x4201, nullptr));
    ASSERT_TRUE(open(link::kModuleProductId, L"QSIM0002"));
    EXPECT_GT(link::readScanConfigCount(testLink(), count), 0);
    EXPECT_EQ(sim::bus().module(1).reportsIn(), 1u);
}

}  // namespace
}  // namespace quillon::test
