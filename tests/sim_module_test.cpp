// The simulated module as a device: what it accepts on the wire, what it
// keeps, how it scans, and what it keeps across processes.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <thread>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "sim/module_clock.h"
#include "sim/state_file.h"
#include "support/scratch_dir.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

using sim::Fault;

// One output report as hidapi writes it: report number 0 and 64 bytes.
std::vector<uint8_t> outputReport(std::initializer_list<int> message) {
    std::vector<uint8_t> report(65, 0);
    size_t i = 1;
    for (int value : message) report[i++] = static_cast<uint8_t>(value);
    return report;
}

// Writes one report straight to the module and reads the one reply report.
std::vector<uint8_t> roundTrip(sim::Module& module, std::initializer_list<int> message) {
    const std::vector<uint8_t> report = outputReport(message);
    EXPECT_EQ(module.write(report.data(), report.size()), 65);
    std::vector<uint8_t> reply(64);
    const int got = module.read(reply.data(), reply.size(), 0);
    reply.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return reply;
}

class SimModuleTest : public SimLinkTest {};

TEST_F(SimModuleTest, MalformedRequestsAreRefusedAndLogged) {
    sim::Module& m = module();
    const struct {
        std::initializer_list<int> message;
        const char* why;
    } cases[] = {
        {{0x80, 0, 2, 0, 0x16, 0x02}, "flags 0x80"},
        {{0xC0, 5, 2, 0, 0x16, 0x02}, "sequence 5"},
        {{0xC0, 0, 3, 0, 0x16, 0x02, 0}, "length 3, expected 2"},
        {{0x40, 1, 2, 0, 0x16, 0x02}, "for a read command"},
        {{0xC0, 0, 2, 0, 0x99, 0x02}, "unknown command"},
        {{0x40, 1, 200, 0, 0x1F, 0x02}, "request length 200"},
        {{0x40, 1, 4, 0, 0x24, 0x02, 1, 0}, "length 4, expected 3"},
    };
    for (const auto& c : cases) {
        m.clearLog();
        const std::vector<uint8_t> reply = roundTrip(m, c.message);
        ASSERT_EQ(reply.size(), 64u) << c.why;
        EXPECT_EQ(reply[0] & 0x30, 0x10) << c.why;  // failure flag bit 4
        EXPECT_EQ(reply[2] | (reply[3] << 8), 0) << c.why;
        ASSERT_EQ(m.protocolErrors().size(), 1u) << c.why;
        EXPECT_NE(m.protocolErrors()[0].find(c.why), std::string::npos) << m.protocolErrors()[0];
    }
    // Output reports must be 65 bytes starting with report number 0.
    std::vector<uint8_t> report = outputReport({0xC0, 0, 2, 0, 0x16, 0x02});
    EXPECT_EQ(m.write(report.data(), 64), -1);
    report[0] = 1;
    EXPECT_EQ(m.write(report.data(), 65), -1);
    EXPECT_EQ(m.protocolErrors().size(), 3u);
    EXPECT_EQ(m.state().activeIndex, 0);
    // Nothing is waiting: a read times out at once.
    uint8_t buffer[64];
    EXPECT_EQ(m.read(buffer, sizeof buffer, 20000), 0);
}

TEST_F(SimModuleTest, FaultsApplyToTheChosenCommandOrTheNextExchanges) {
    ASSERT_TRUE(openFirst());
    uint8_t count = 0;
    uint32_t words[7];
    module().injectFaultNext(Fault::NoReply, 2);
    EXPECT_EQ(link::readVersions(words), link::kLinkTimeout);
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkTimeout);
    EXPECT_GT(link::readScanConfigCount(count), 0);
    EXPECT_EQ(module().pendingFaults(), 0u);

    module().injectFault(Fault::FailureFlag5, link::kReadScanConfigCount, sim::kAlways);
    EXPECT_GT(link::readVersions(words), 0);
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkFlag5);
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkFlag5);
    module().clearFaults();
    EXPECT_GT(link::readScanConfigCount(count), 0);

    // A dropped write request has no effect; a refused one neither.
    module().injectFault(Fault::NoReply, link::kSetActiveScanIndex);
    EXPECT_EQ(link::setActiveScanIndexCommand(2), link::kLinkTimeout);
    module().injectFault(Fault::WriteStatus, link::kEraseScanConfigs, 1, 3);
    EXPECT_EQ(link::eraseScanConfigs(), 3);
    EXPECT_EQ(module().state().activeIndex, 0);
    EXPECT_EQ(module().state().configImages.size(), 3u);
}

TEST_F(SimModuleTest, ScanRunsForItsEstimatedTimeAndServesItsImage) {
    ASSERT_TRUE(openFirst());
    uint32_t estimate[3];
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_EQ(link::setActiveScanIndexCommand(i), 0);
        ASSERT_GT(link::readEstimatedScanTime(estimate[i]), 0);
    }
    EXPECT_GT(estimate[1], estimate[2]);  // 228 patterns x 6 repeats against 200 x 4
    ASSERT_EQ(link::setAverageCount(3), 0);
    uint32_t averaged = 0;
    ASSERT_GT(link::readEstimatedScanTime(averaged), 0);
    EXPECT_GT(averaged, 2 * estimate[2]);
    ASSERT_EQ(link::setAverageCount(1), 0);

    // Real time: the scan-running bit is set right after the start, no data yet.
    sim::setTimeScale(1.0);
    ASSERT_EQ(link::startScan(), 0);
    uint32_t status = 0;
    ASSERT_GT(link::readDeviceStatus(status), 0);
    EXPECT_EQ(status & 2, 2u);
    uint32_t size = 1;
    ASSERT_GT(link::readScanDataSize(size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_GT(link::startScan(), 0);  // busy

    // Module time zero: a scan is over as soon as it started.
    sim::bus().reset(1);
    link::closeModule();
    ASSERT_TRUE(openFirst());
    sim::setTimeScale(0.0);
    for (uint8_t index : {0, 2}) {
        ASSERT_EQ(link::setActiveScanIndexCommand(index), 0);
        ASSERT_EQ(link::startScan(), 0);
        ASSERT_GT(link::readDeviceStatus(status), 0);
        EXPECT_EQ(status & 2, 0u);
        ASSERT_GT(link::readScanDataSize(size), 0);
        EXPECT_EQ(size, index == 0 ? kScanDataWholeImageSize : kScanDataSplitImageSize);
        std::vector<uint8_t> image(kScanDataBufferSize);
        size_t read = 0;
        while (read < size) {
            size_t piece = 0;
            ASSERT_GT(link::readScanDataChunk(image.data() + read, image.size() - read, piece), 0);
            EXPECT_LE(piece, 580u);
            read += piece;
        }
        EXPECT_EQ(read, size);
        EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.begin() + size), module().scanImage());
        auto record = std::make_unique<ScanDataRecord>();
        ASSERT_EQ(decodeScanData(image.data(), size, *record), kRecordOk);
        EXPECT_EQ(record->form, index == 0 ? ScanDataForm::Whole : ScanDataForm::Split);
        EXPECT_STREQ(index == 0 ? record->whole.configName : record->split.configName,
                     index == 0 ? "Column 900-1700" : "Column + Hadamard");
        EXPECT_EQ(record->whole.calibration.pixelToNmCoeffs[1], -0.92);  // head shared by both
    }
    EXPECT_EQ(module().scansStarted(), 2u);

    // A scan that never finishes.
    module().injectFault(Fault::ScanNeverFinishes, link::kStartScan);
    ASSERT_EQ(link::startScan(), 0);
    ASSERT_GT(link::readDeviceStatus(status), 0);
    EXPECT_EQ(status & 2, 2u);
    // No active configuration to scan with: refused.
    sim::bus().reset(1);
    module().state().configImages.clear();
    link::closeModule();
    ASSERT_TRUE(openFirst());
    EXPECT_GT(link::startScan(), 0);
}

class SimStateFileTest : public SimLinkTest {
  protected:
    ScratchDir dir;
    std::string path() const { return dir.path() + "/module.state"; }
    sim::Module& attachWithState() {
        sim::bus().reset(0);
        return sim::bus().attach(sim::ModuleOptions{path(), {}});
    }
};

TEST_F(SimStateFileTest, ConfigurationsSurviveAnotherModuleInstance) {
    sim::Module& first = attachWithState();
    ASSERT_TRUE(openFirst());
    const sim::Image sectioned = first.state().configImages[2];
    ASSERT_EQ(link::eraseScanConfigs(), 0);
    ASSERT_EQ(link::writeScanConfig(0, sectioned.data(), sectioned.size()), 0);
    ASSERT_EQ(link::writeScanConfig(1, sectioned.data(), sectioned.size()), 0);
    ASSERT_EQ(link::setActiveScanIndexCommand(1), 0);
    link::closeModule();

    // As a new process would see it: a fresh module over the same file.
    attachWithState();
    ASSERT_TRUE(openFirst());
    uint8_t count = 0, active = 0;
    ASSERT_GT(link::readScanConfigCount(count), 0);
    EXPECT_EQ(count, 2);
    ASSERT_GT(link::readActiveScanIndex(active), 0);
    EXPECT_EQ(active, 1);
    uint8_t image[512];
    size_t size = 0;
    ASSERT_GT(link::readScanConfig(1, image, sizeof image, size), 0);
    EXPECT_EQ(sim::Image(image, image + size), sectioned);
}

TEST_F(SimStateFileTest, DamagedOrForeignFilesAreRefusedAndLeftAlone) {
    sim::PersistedState saved{1, {sim::factoryState().configImages[0]}};
    const std::vector<uint8_t> good = sim::encodeStateFile(saved);
    std::vector<uint8_t> flipped = good;
    flipped[20] ^= 0x01;
    std::vector<uint8_t> otherVersion = good;
    otherVersion[8] = 2;
    const std::string text = "this is a text file, not a module state\n";
    const std::vector<uint8_t> foreign(text.begin(), text.end());
    std::vector<uint8_t> truncated(good.begin(), good.end() - 5);
    const struct {
        const std::vector<uint8_t>* bytes;
        const char* why;
    } cases[] = {{&flipped, "checksum"},
                 {&otherVersion, "another version"},
                 {&foreign, "not a simulator state file"},
                 {&truncated, "checksum"}};
    for (const auto& c : cases) {
        {
            std::ofstream out(path(), std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(c.bytes->data()),
                      static_cast<std::streamsize>(c.bytes->size()));
        }
        testing::internal::CaptureStderr();
        sim::Module& m = attachWithState();
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_NE(message.find("refused"), std::string::npos) << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_NE(message.find(path()), std::string::npos) << message;
        EXPECT_FALSE(m.persisting());
        EXPECT_EQ(m.state().configImages.size(), 3u);  // factory configurations
        // Changes are not written over the refused file.
        m.state().activeIndex = 2;
        m.stateChanged();
        EXPECT_EQ(readFile(path()), std::string(c.bytes->begin(), c.bytes->end()));
    }
    // An intact file is taken.
    std::remove(path().c_str());
    sim::Module& fresh = attachWithState();
    EXPECT_TRUE(fresh.persisting());
    fresh.state() = sim::factoryState();
    fresh.state().configImages.resize(1);
    fresh.state().activeIndex = 1;
    fresh.stateChanged();
    EXPECT_EQ(readFile(path()), std::string(good.begin(), good.end()));
    sim::PersistedState loaded;
    std::string why;
    EXPECT_EQ(sim::loadStateFile(path(), loaded, why), sim::StateLoad::Loaded);
    EXPECT_EQ(loaded.activeIndex, 1);
}

TEST_F(SimModuleTest, BusAttachesAndDetachesModules) {
    sim::bus().reset(0);
    EXPECT_EQ(sim::bus().size(), 0u);
    EXPECT_FALSE(openFirst());
    sim::Module& a = sim::bus().attach();
    sim::Module& b = sim::bus().attach();
    EXPECT_EQ(a.serialNumber(), L"QSIM0001");
    EXPECT_EQ(b.serialNumber(), L"QSIM0002");
    ASSERT_TRUE(openFirst());
    sim::bus().detach(0);
    uint8_t count;
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkNoModule);
    link::closeModule();
    ASSERT_TRUE(openFirst());
    EXPECT_GT(link::readScanConfigCount(count), 0);
    EXPECT_EQ(sim::bus().module(0).serialNumber(), L"QSIM0002");
}

}  // namespace
}  // namespace quillon::test
