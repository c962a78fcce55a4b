#include "scenarios.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/discovery.h"
#include "config/model.h"
#include "config/retrieval.h"
#include "core/errors.h"
#include "core/session.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "quillonlib.h"
#include "sim/module_state.h"

namespace quillon::fuzz {

link::LinkState& fuzzLink() {
    return obtainSession()->module.link;
}

namespace {

// Stored images as the factory module holds them: what WRITE_SCAN_CONFIG sends.
const std::vector<sim::Image>& factoryImages() {
    static const std::vector<sim::Image> images = sim::factoryState().configImages;
    return images;
}

// Whatever a read command returned, a positive count fits the reply buffer
// and a negative one is a link code.
void checkReply(int result) {
    FUZZ_CHECK(result >= link::kLinkTimeout && result <= link::kReplyBufferSize);
}

// A read into a `T`: a failed one leaves it as it was.
template <typename T, typename Read>
void readStep(Read read) {
    T value;
    std::memset(&value, 0xA5, sizeof value);
    const T before = value;
    const int result = read(fuzzLink(), value);
    checkReply(result);
    if (result <= 0) FUZZ_CHECK(std::memcmp(&value, &before, sizeof value) == 0);
}

void configStep(uint32_t index) {
    // Exactly the retrieval's work buffer, on the heap, so any write past it is caught.
    auto buffer = std::make_unique<uint8_t[]>(kConfigWorkBufferSize);
    size_t size = 0xDEAD;
    const int result =
        link::readScanConfig(fuzzLink(), index, buffer.get(), kConfigWorkBufferSize, size);
    checkReply(result);
    if (result <= 0) {
        FUZZ_CHECK(size == 0xDEAD);
        return;
    }
    FUZZ_CHECK(size <= kConfigWorkBufferSize);
    FUZZ_CHECK(size + 4 <= static_cast<size_t>(link::kMaxReplyPayload));
    ScanConfig config{};
    if (size > 0) decodeScanConfig(buffer.get(), size, config);
}

void chunkStep(uint8_t parameter) {
    const size_t capacity = parameter == 0 ? link::kMaxReplyPayload : parameter * 40u;
    auto piece = std::make_unique<uint8_t[]>(capacity);
    size_t length = 0xDEAD;
    const int result = link::readScanDataChunk(fuzzLink(), piece.get(), capacity, length);
    checkReply(result);
    if (result <= 0) {
        FUZZ_CHECK(length == 0xDEAD);
        return;
    }
    FUZZ_CHECK(length <= capacity);
    FUZZ_CHECK(length + link::kHeaderSize <= static_cast<size_t>(result));
}

// Write commands end in readStatus: any value the module sends is a result.
void statusStep(int) {}

}  // namespace

// The order is the selector's meaning in the committed corpora: append only.
const LinkStep kLinkSteps[kLinkStepCount] = {
    {"versions",
     [](uint8_t) {
         readStep<std::array<uint32_t, 7>>([](link::LinkState& link, auto& words) {
             return link::readVersions(link, words.data());
         });
     }},
    {"active-index", [](uint8_t) { readStep<uint8_t>(link::readActiveScanIndex); }},
    {"set-active", [](uint8_t p) { statusStep(link::setActiveScanIndexCommand(fuzzLink(), p)); }},
    {"estimate", [](uint8_t) { readStep<uint32_t>(link::readEstimatedScanTime); }},
    {"lamp-off", [](uint8_t p) { statusStep(link::lampOffControl(fuzzLink(), p & 1)); }},
    {"lamp-on", [](uint8_t p) { statusStep(link::lampOnControl(fuzzLink(), p & 1)); }},
    {"calibration",
     [](uint8_t) { readStep<CalibrationCoefficients>(link::readCalibrationCoefficients); }},
    {"config-count", [](uint8_t) { readStep<uint8_t>(link::readScanConfigCount); }},
    {"config", [](uint8_t p) { configStep(p); }},
    {"erase", [](uint8_t) { statusStep(link::eraseScanConfigs(fuzzLink())); }},
    {"write-config",
     [](uint8_t p) {
         const sim::Image& image = factoryImages()[p % factoryImages().size()];
         statusStep(link::writeScanConfig(fuzzLink(), p, image.data(), image.size()));
     }},
    {"average", [](uint8_t p) { statusStep(link::setAverageCount(fuzzLink(), p)); }},
    {"pre-scan",
     [](uint8_t) {
         const int result = link::preScanSetting(fuzzLink());
         FUZZ_CHECK(result == 0 || result == 1);
     }},
    {"start-scan", [](uint8_t) { statusStep(link::startScan(fuzzLink())); }},
    {"status", [](uint8_t) { readStep<uint32_t>(link::readDeviceStatus); }},
    {"data-size", [](uint8_t) { readStep<uint32_t>(link::readScanDataSize); }},
    {"chunk", [](uint8_t p) { chunkStep(p); }},
};

void runLinkStep(uint8_t selector) {
    kLinkSteps[selector % kLinkStepCount].run(static_cast<uint8_t>(selector / kLinkStepCount));
}

void runOpenScenario(const link::HidLayer& hid) {
    closeSpectrometer();
    destroySession();
    lastErrorCode = kNoError;
    unsigned count = 0;
    FUZZ_CHECK(enumerateDevicesOp(*obtainSession(), &hid, &count).ok() && count == 1);
    const int opened = openSpectrometer(0);
    FUZZ_CHECK(opened == 0 || opened == -1);
    FUZZ_CHECK(std::strcmp(getLastException(), "unknow") != 0);

    Module& session = obtainSession()->module;
    FUZZ_CHECK(session.scanConfigs.size() <= 255);
    const int names = getScanSectionNumber();
    FUZZ_CHECK(names >= 0 && static_cast<size_t>(names) <= session.scanConfigs.size());
    for (int i = 0; i < names; ++i) {
        // Exactly sized caller buffers: the copies must stay inside them.
        auto name = std::make_unique<char[]>(kConfigNameSize);
        std::memset(name.get(), 0, kConfigNameSize);
        FUZZ_CHECK(getScanSectionName(i, name.get(), kConfigNameSize) == 0);
        const std::string text(name.get(), strnlen(name.get(), kConfigNameSize));
        const int sections = getScanSectionNameNumber(text.c_str());
        FUZZ_CHECK(sections >= 0 && sections <= kMaxSections * 255);
        for (int s = 0; s < std::min(sections, kMaxSections); ++s) {
            auto type = std::make_unique<char[]>(8);
            double width = 0, exposure = 0;
            unsigned short start = 0, end = 0, patterns = 0;
            FUZZ_CHECK(getScanSectionNameCfg(text.c_str(), s, type.get(), 8, &width, &start, &end,
                                             &patterns, &exposure) == 0);
            FUZZ_CHECK(std::memcmp(type.get(), "Column", 6) == 0 ||
                       std::memcmp(type.get(), "Hadamard", 8) == 0);
        }
        unsigned short remaining = 0;
        getRemainPatternNum(text.c_str(), 1, &remaining);
    }
    unsigned length = 0;
    getFormattedSpectrumLengths(&length);
    getMaxPattern("fuzz", 900, 1700, 6, 1, 1);

    // An edit and its removal: both save the whole list through the stream.
    const size_t before = session.scanConfigs.size();
    setTgtCfg("Fuzz", 0, "Column", 1000, 1100, 7.03, 10, 0.635);
    const int committed = setTgtCfgs("Fuzz", 1);
    if (committed == 0) {
        FUZZ_CHECK(findConfig(session.scanConfigs, "Fuzz") >= 0);
        const int removed = removeTgtCfg("Fuzz");
        if (removed == 0) FUZZ_CHECK(findConfig(session.scanConfigs, "Fuzz") < 0);
    } else {
        FUZZ_CHECK(session.scanConfigs.size() == before);
    }
    closeSpectrometer();
    destroySession();
}

}  // namespace quillon::fuzz
