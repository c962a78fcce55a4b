// What the simulated module does with each command and what it answers: the
// reply payload of a read command, the status word of a write command.
#include <algorithm>
#include <cstring>

#include "core/bytes.h"

#include "sim/module.h"
#include "sim/scan_time.h"

namespace quillon::sim {
namespace {

// Status words a write command answers with.
constexpr uint32_t kStatusOk = 0;
constexpr uint32_t kStatusRefused = 1;
constexpr uint32_t kStatusBadImage = 2;
constexpr uint32_t kStatusBadPosition = 3;
constexpr uint32_t kStatusBusy = 4;

constexpr size_t kMaxPiece = 580;
// Bytes of a WRITE_SCAN_CONFIG message before the image.
constexpr size_t kWriteConfigHead = 9;

using bytes::get16;
using bytes::get32;
constexpr auto put32 = bytes::append32;

}  // namespace

bool Module::execute(uint16_t code, const std::vector<uint8_t>& message,
                     std::vector<uint8_t>& payload, bool refuseWrite, const FaultRule* fault) {
    const uint8_t* data = message.data() + 6;
    auto is = [code](link::CommandCode command) { return link::codeKey(command) == code; };
    auto status = [&payload](uint32_t value) { put32(payload, value); };

    if (is(link::kReadVersions)) {
        for (uint32_t word : state_.versions) put32(payload, word);
    } else if (is(link::kReadActiveScanIndex)) {
        payload.push_back(state_.activeIndex);
    } else if (is(link::kReadEstimatedScanTime)) {
        ScanConfig config;
        uint32_t ms = 0;
        if (state_.activeIndex < state_.configImages.size() &&
            decodeStoredConfig(state_.configImages[state_.activeIndex], config)) {
            ms = estimatedScanTimeMs(config, state_.averageCount);
        }
        put32(payload, ms);
    } else if (is(link::kReadCalibrationCoefficients)) {
        payload.resize(kCalibrationImageSize);
        if (encodeCalibration(state_.calibration, payload.data(), payload.size()) !=
            RecordStatus::Ok) {
            payload.clear();
        }
    } else if (is(link::kReadScanConfigCount)) {
        payload.push_back(static_cast<uint8_t>(state_.configImages.size()));
    } else if (is(link::kReadScanConfig)) {
        readConfig(message, payload);
    } else if (is(link::kReadDeviceStatus)) {
        put32(payload, state_.statusBits | (scanRunning() ? kScanRunningBit : 0));
    } else if (is(link::kReadScanDataSize)) {
        chunkCursor_ = 0;
        put32(payload, scanRunning() ? 0 : static_cast<uint32_t>(scanImage_.size()));
    } else if (is(link::kReadScanDataChunk)) {
        readChunk(payload);
    } else if (refuseWrite) {
        status(fault != nullptr && fault->value != 0 ? fault->value : kStatusRefused);
    } else if (is(link::kSetActiveScanIndex)) {
        if (data[0] < state_.configImages.size()) {
            state_.activeIndex = data[0];
            stateChanged();
            status(kStatusOk);
        } else {
            status(kStatusRefused);
        }
    } else if (is(link::kLampOffControl)) {
        if (data[0] == 1) switchLamp(false);
        status(data[0] <= 1 ? kStatusOk : kStatusRefused);
    } else if (is(link::kLampOnControl)) {
        if (data[0] != data[1] || data[0] > 1) {
            status(kStatusRefused);
        } else {
            switchLamp(data[0] == 1);
            status(kStatusOk);
        }
    } else if (is(link::kEraseScanConfigs)) {
        if (data[0] == 0x5A) {
            state_.configImages.clear();
            stateChanged();
            status(kStatusOk);
            writesSinceErase_ = 0;
            countSaveStep();
        } else {
            status(kStatusRefused);
        }
    } else if (is(link::kWriteScanConfig)) {
        status(writeConfig(message));
    } else if (is(link::kSetAverageCount)) {
        state_.averageCount = get16(data);
        status(kStatusOk);
    } else if (is(link::kPreScanSetting)) {
        status(data[0] == 0x00 && data[1] == 0x40 ? kStatusOk : kStatusRefused);
    } else if (is(link::kStartScan)) {
        status(startScan(fault != nullptr && fault->fault == Fault::ScanNeverFinishes));
    } else {
        return false;
    }
    return true;
}

void Module::readConfig(const std::vector<uint8_t>& message, std::vector<uint8_t>& payload) {
    const uint32_t index = get32(message.data() + 6);
    if (index >= state_.configImages.size()) {
        put32(payload, 0);
        return;
    }
    const Image& image = state_.configImages[index];
    put32(payload, static_cast<uint32_t>(image.size()));
    payload.insert(payload.end(), image.begin(), image.end());
}

uint32_t Module::writeConfig(const std::vector<uint8_t>& message) {
    const size_t position = message[7];
    const size_t size = message[8];
    if (message[6] != 0x00 || size == 0 || kWriteConfigHead + size > message.size()) {
        return kStatusBadImage;
    }
    Image image(message.begin() + kWriteConfigHead, message.begin() + kWriteConfigHead + size);
    ScanConfig config;
    if (!decodeStoredConfig(image, config)) return kStatusBadImage;
    if (position >= kMaxStoredConfigs || position > state_.configImages.size()) {
        return kStatusBadPosition;
    }
    if (position == state_.configImages.size()) {
        state_.configImages.push_back(std::move(image));
    } else {
        state_.configImages[position] = std::move(image);
    }
    stateChanged();
    countSaveStep();
    return kStatusOk;
}

uint32_t Module::startScan(bool neverFinishes) {
    if (scanRunning()) return kStatusBusy;
    ScanContext context{};
    if (state_.activeIndex >= state_.configImages.size() ||
        !decodeStoredConfig(state_.configImages[state_.activeIndex], context.config)) {
        return kStatusRefused;
    }
    context.calibration = state_.calibration;
    context.averageCount = state_.averageCount;
    context.lampOn = state_.lampOn;
    context.scanNumber = scansStarted_ + 1;
    std::vector<uint8_t> image = producer_ ? producer_(context) : std::vector<uint8_t>{};
    if (image.empty()) return kStatusRefused;
    scanImage_ = std::move(image);
    chunkCursor_ = 0;
    ++scansStarted_;
    scanStuck_ = neverFinishes;
    scanEnd_ = moduleAfter(moduleNow(), estimatedScanTimeMs(context.config, state_.averageCount));
    return kStatusOk;
}

void Module::readChunk(std::vector<uint8_t>& payload) {
    if (scanRunning() || chunkCursor_ >= scanImage_.size()) return;  // nothing: length 0
    const size_t take = std::min(kMaxPiece, scanImage_.size() - chunkCursor_);
    payload.assign(scanImage_.begin() + chunkCursor_, scanImage_.begin() + chunkCursor_ + take);
    chunkCursor_ += take;
}

}  // namespace quillon::sim
