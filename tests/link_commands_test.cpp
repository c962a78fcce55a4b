// Every device command: the bytes it puts on the wire and what it makes of
// the module's reply, sound or not.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

using sim::Fault;

class LinkCommandsTest : public SimLinkTest {
  protected:
    void SetUp() override {
        SimLinkTest::SetUp();
        ASSERT_TRUE(openFirst());
    }
};

TEST_F(LinkCommandsTest, WireBytesOfEveryCommand) {
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
        {[] { link::setActiveScanIndexCommand(3); }, bytes({0x40, E, 3, 0, 0x24, 0x02, 0x03})},
        {[&] { link::readScanConfig(2, image, sizeof image, size); },
         bytes({0xC0, 0, 6, 0, 0x20, 0x02, 0x02, 0, 0, 0})},
        {[&] { link::readScanDataSize(word); }, bytes({0xC0, 0, 6, 0, 0x2D, 0x00, 0, 0, 0, 0})},
        {[] { link::lampOffControl(0); }, bytes({0x40, E, 3, 0, 0x25, 0x02, 0x00})},
        {[] { link::lampOnControl(1); }, bytes({0x40, E, 4, 0, 0x05, 0x01, 0x01, 0x01})},
        {[] { link::lampOffControl(1); }, bytes({0x40, E, 3, 0, 0x25, 0x02, 0x01})},
        {[] { link::lampOnControl(0); }, bytes({0x40, E, 4, 0, 0x05, 0x01, 0x00, 0x00})},
        {[&] { link::readVersions(words); }, bytes({0xC0, 0, 2, 0, 0x16, 0x02})},
        {[&] { link::readActiveScanIndex(byte); }, bytes({0xC0, 0, 2, 0, 0x23, 0x02})},
        {[&] { link::readEstimatedScanTime(word); }, bytes({0xC0, 0, 2, 0, 0x37, 0x02})},
        {[&] { link::readCalibrationCoefficients(cal); }, bytes({0xC0, 0, 2, 0, 0x2A, 0x02})},
        {[&] { link::readScanConfigCount(byte); }, bytes({0xC0, 0, 2, 0, 0x22, 0x02})},
        {[] { link::setAverageCount(0x1234); }, bytes({0x40, E, 4, 0, 0x2E, 0x02, 0x34, 0x12})},
        {[] { link::preScanSetting(); }, bytes({0x40, E, 4, 0, 0x0C, 0x04, 0x00, 0x40})},
        {[] { link::startScan(); }, bytes({0x40, E, 3, 0, 0x18, 0x02, 0x00})},
        {[&] { link::readDeviceStatus(word); }, bytes({0xC0, 0, 2, 0, 0x03, 0x04})},
        {[&] { link::readScanDataChunk(image, sizeof image, size); },
         bytes({0xC0, 0, 2, 0, 0x2E, 0x00})},
        {[] { link::eraseScanConfigs(); }, bytes({0x40, E, 3, 0, 0x21, 0x02, 0x5A})},
    };
    for (const auto& c : cases) {
        c.send();
        std::vector<uint8_t> sent = request();
        if (sent[0] == 0x40) sent[1] = E;
        sent.resize(std::max<size_t>(sent.size(), 64));
        std::vector<uint8_t> want = c.wire;
        want.resize(64);
        EXPECT_EQ(head(sent, 64), want) << testing::PrintToString(c.wire);
        // The module switches its lamp on the second of the pair.
        if (c.wire[4] == 0x05) {
            EXPECT_EQ(module().state().lampOn, c.wire[6] == 1);
        }
    }
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(LinkCommandsTest, WriteScanConfigAlwaysSendsThreeReports) {
    const sim::Image sectioned = module().state().configImages[1];  // 155 bytes
    const sim::Image single = module().state().configImages[0];     // 91 bytes
    ASSERT_EQ(sectioned.size(), 155u);
    ASSERT_EQ(single.size(), 91u);
    ASSERT_EQ(link::eraseScanConfigs(), 0);
    EXPECT_TRUE(module().state().configImages.empty());

    for (const sim::Image* image : {&sectioned, &single}) {
        const uint8_t position = image == &sectioned ? 0 : 1;
        module().clearLog();
        ASSERT_EQ(link::writeScanConfig(position, image->data(), image->size()), 0);
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
    // The module stored them at the positions given and serves them back unchanged.
    ASSERT_EQ(module().state().configImages.size(), 2u);
    uint8_t back[512];
    size_t size = 0;
    ASSERT_GT(link::readScanConfig(0, back, sizeof back, size), 0);
    EXPECT_EQ(sim::Image(back, back + size), sectioned);
    ASSERT_GT(link::readScanConfig(1, back, sizeof back, size), 0);
    EXPECT_EQ(sim::Image(back, back + size), single);

    // A position beyond the list, or an image the module cannot read: non-zero status.
    EXPECT_GT(link::writeScanConfig(5, single.data(), single.size()), 0);
    sim::Image broken = single;
    broken[0] = 'x';
    EXPECT_GT(link::writeScanConfig(2, broken.data(), broken.size()), 0);
    EXPECT_EQ(module().state().configImages.size(), 2u);
    // An image that cannot travel in the message is not sent.
    module().clearLog();
    const std::vector<uint8_t> huge(184, 1);
    EXPECT_EQ(link::writeScanConfig(0, huge.data(), huge.size()), link::kLinkNoModule);
    EXPECT_TRUE(module().receivedReports().empty());
}

TEST_F(LinkCommandsTest, ReadCommandsDecodeTheirReplies) {
    uint32_t words[7] = {};
    ASSERT_GT(link::readVersions(words), 0);
    EXPECT_EQ(std::memcmp(words, module().state().versions, sizeof words), 0);
    uint32_t kept[7];
    std::memcpy(kept, words, sizeof kept);
    module().injectFault(Fault::FailureFlag5, link::kReadVersions);
    std::memset(words, 0x11, sizeof words);
    EXPECT_EQ(link::readVersions(words), link::kLinkFlag5);
    for (uint32_t w : words) EXPECT_EQ(w, 0x11111111u);  // nothing stored
    // A versions reply shorter than seven words.
    module().injectFault(Fault::OversizedLength, link::kReadVersions, 1, 20);
    EXPECT_EQ(link::readVersions(words), link::kLinkFlag4);

    uint8_t byte = 0;
    module().state().activeIndex = 2;
    ASSERT_GT(link::readActiveScanIndex(byte), 0);
    EXPECT_EQ(byte, 2);
    ASSERT_GT(link::readScanConfigCount(byte), 0);
    EXPECT_EQ(byte, 3);

    uint32_t word = 0;
    ASSERT_GT(link::readEstimatedScanTime(word), 0);
    EXPECT_GT(word, 120u);
    module().state().statusBits = 0x10;
    ASSERT_GT(link::readDeviceStatus(word), 0);
    EXPECT_EQ(word, 0x10u);
    // A status reply too short for its word.
    module().injectFault(Fault::OversizedLength, link::kReadDeviceStatus, 1, 3);
    word = 77;
    EXPECT_EQ(link::readDeviceStatus(word), link::kLinkFlag4);
    EXPECT_EQ(word, 77u);

    // Write commands answer the module's status.
    EXPECT_EQ(link::setActiveScanIndexCommand(1), 0);
    EXPECT_EQ(module().state().activeIndex, 1);
    EXPECT_EQ(link::setActiveScanIndexCommand(9), 1);  // no such configuration
    EXPECT_EQ(module().state().activeIndex, 1);
    EXPECT_EQ(link::setAverageCount(4), 0);
    EXPECT_EQ(module().state().averageCount, 4);
}

TEST_F(LinkCommandsTest, ScanConfigSizeMustFitTheReply) {
    uint8_t image[512];
    size_t size = 1234;
    ASSERT_GT(link::readScanConfig(2, image, sizeof image, size), 0);
    EXPECT_EQ(size, 155u);
    EXPECT_EQ(sim::Image(image, image + size), module().state().configImages[2]);

    // N one larger than the image the reply holds.
    size = 1234;
    module().injectFault(Fault::WrongSizeField, link::kReadScanConfig, 1, 156);
    EXPECT_EQ(link::readScanConfig(2, image, sizeof image, size), link::kLinkFlag4);
    EXPECT_EQ(size, 1234u);
    // N larger than the caller can hold.
    EXPECT_EQ(link::readScanConfig(2, image, 154, size), link::kLinkFlag4);
    EXPECT_EQ(size, 1234u);
    ASSERT_GT(link::readScanConfig(2, image, 155, size), 0);
    EXPECT_EQ(size, 155u);
    // A garbled reply.
    module().injectFault(Fault::Garbled, link::kReadScanConfig);
    EXPECT_EQ(link::readScanConfig(0, image, sizeof image, size), link::kLinkFlag4);
    // No configuration at that index: size 0.
    ASSERT_GT(link::readScanConfig(7, image, sizeof image, size), 0);
    EXPECT_EQ(size, 0u);
}

TEST_F(LinkCommandsTest, CalibrationIsDecodedOrRefused) {
    CalibrationCoefficients cal{};
    ASSERT_GT(link::readCalibrationCoefficients(cal), 0);
    EXPECT_EQ(cal.pixelToNmCoeffs[0], 1750.0);
    EXPECT_EQ(cal.pixelToNmCoeffs[1], -0.92);
    EXPECT_EQ(cal.pixelToNmCoeffs[2], -0.00012);
    EXPECT_EQ(cal.rowShiftCoeffs[0], -4.0);
    EXPECT_EQ(cal.rowShiftCoeffs[1], 0.012);
    EXPECT_EQ(cal.rowShiftCoeffs[2], 0.000015);

    // A reply that is no calibration image leaves the coefficients as they were.
    const CalibrationCoefficients before = cal;
    for (Fault fault : {Fault::Garbled, Fault::WrongSizeField}) {
        module().injectFault(fault, link::kReadCalibrationCoefficients, 1, 0x11223344);
        EXPECT_EQ(link::readCalibrationCoefficients(cal), link::kLinkFlag4);
        EXPECT_EQ(std::memcmp(&cal, &before, sizeof cal), 0);
    }
    module().injectFault(Fault::FailureFlag5, link::kReadCalibrationCoefficients);
    EXPECT_EQ(link::readCalibrationCoefficients(cal), link::kLinkFlag5);
    module().injectFault(Fault::Unplug, link::kReadCalibrationCoefficients);
    EXPECT_EQ(link::readCalibrationCoefficients(cal), link::kLinkNoModule);
    EXPECT_EQ(std::memcmp(&cal, &before, sizeof cal), 0);
}

TEST_F(LinkCommandsTest, PreScanSettingIsZeroOnlyForStatusZero) {
    EXPECT_EQ(link::preScanSetting(), 0);
    module().injectFault(Fault::WriteStatus, link::kPreScanSetting, 1, 5);
    EXPECT_EQ(link::preScanSetting(), 1);
    module().injectFault(Fault::NoReply, link::kPreScanSetting);
    EXPECT_EQ(link::preScanSetting(), 1);
    module().injectFault(Fault::FailureFlag4, link::kPreScanSetting);
    EXPECT_EQ(link::preScanSetting(), 1);
}

TEST_F(LinkCommandsTest, ScanDataPiecesRespectTheCallersRoom) {
    module().setScanProducer([](const sim::ScanContext&) { return std::vector<uint8_t>(700, 9); });
    ASSERT_EQ(link::startScan(), 0);
    uint32_t size = 0;
    ASSERT_GT(link::readScanDataSize(size), 0);
    ASSERT_EQ(size, 700u);
    uint8_t piece[580];
    size_t length = 0;
    EXPECT_EQ(link::readScanDataChunk(piece, 579, length), link::kLinkFlag4);
    EXPECT_EQ(length, 0u);
    ASSERT_GT(link::readScanDataSize(size), 0);  // starts the pieces over
    ASSERT_EQ(link::readScanDataChunk(piece, sizeof piece, length), 640);
    EXPECT_EQ(length, 580u);
    ASSERT_EQ(link::readScanDataChunk(piece, sizeof piece, length), 128);
    EXPECT_EQ(length, 120u);
    // Past the end: the module answers with length 0.
    EXPECT_EQ(link::readScanDataChunk(piece, sizeof piece, length), link::kLinkFlag4);
}

}  // namespace
}  // namespace quillon::test
