// Each command: its code and data on the way out, its reply taken apart on the
// way back. Nothing here trusts a length from the module further than the
// bytes that actually arrived.
#include "link/commands.h"

#include <algorithm>
#include <cstring>

#include "link/command_codes.h"
#include "link/protocol.h"

namespace quillon::link {
namespace {

// The calibration image is looked for in the first 144 payload bytes.
constexpr size_t kCalibrationWindow = 144;
constexpr size_t kWriteScanConfigMessage = 192;
constexpr uint16_t kWriteScanConfigLength = 128;

uint32_t get32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int writeCommand(CommandCode code, const uint8_t* data, size_t dataLength) {
    uint8_t message[kHeaderSize + 2 + 4] = {};
    const size_t length = 2 + dataLength;
    message[0] = kWriteFlags;
    message[1] = nextSequence();
    message[2] = static_cast<uint8_t>(length);
    message[3] = 0;
    message[4] = code.number;
    message[5] = code.group;
    std::memcpy(message + 6, data, dataLength);
    if (sendRequest(message, kHeaderSize + length) <= 0) return kLinkNoModule;
    return readStatus();
}

int readCommand(CommandCode code, const uint8_t* data = nullptr, size_t dataLength = 0) {
    return exchange(code.number, code.group, data, dataLength);
}

// A read command whose reply carries one 32-bit value.
int readWord(CommandCode code, uint32_t& value, const uint8_t* data = nullptr,
             size_t dataLength = 0) {
    const int result = readCommand(code, data, dataLength);
    if (result <= 0) return result;
    if (replyPayloadLength() < 4) return kLinkFlag4;
    value = get32(replyPayload());
    return result;
}

int readByte(CommandCode code, uint8_t& value) {
    const int result = readCommand(code);
    if (result <= 0) return result;
    if (replyPayloadLength() < 1) return kLinkFlag4;
    value = replyPayload()[0];
    return result;
}

}  // namespace

int readVersions(uint32_t words[7]) {
    const int result = readCommand(kReadVersions);
    if (result <= 0) return result;
    if (replyPayloadLength() < 28) return kLinkFlag4;
    for (int i = 0; i < 7; ++i) words[i] = get32(replyPayload() + 4 * i);
    return result;
}

int readActiveScanIndex(uint8_t& index) {
    return readByte(kReadActiveScanIndex, index);
}

int setActiveScanIndexCommand(uint8_t index) {
    return writeCommand(kSetActiveScanIndex, &index, 1);
}

int readEstimatedScanTime(uint32_t& milliseconds) {
    return readWord(kReadEstimatedScanTime, milliseconds);
}

int lampOffControl(uint8_t off) {
    return writeCommand(kLampOffControl, &off, 1);
}

int lampOnControl(uint8_t on) {
    const uint8_t data[2] = {on, on};
    return writeCommand(kLampOnControl, data, 2);
}

int readCalibrationCoefficients(CalibrationCoefficients& cal) {
    const int result = readCommand(kReadCalibrationCoefficients);
    if (result <= 0) return result;
    // Decoded from a copy: the reply buffer stays as it arrived, and `cal` is
    // only touched once the image proved sound.
    uint8_t image[kCalibrationWindow] = {};
    const size_t size = std::min(replyPayloadLength(), kCalibrationWindow);
    std::memcpy(image, replyPayload(), size);
    CalibrationCoefficients decoded;
    if (decodeCalibration(image, size, decoded) != kRecordOk) return kLinkFlag4;
    cal = decoded;
    return result;
}

int readScanConfigCount(uint8_t& count) {
    return readByte(kReadScanConfigCount, count);
}

int readScanConfig(uint32_t index, uint8_t* image, size_t capacity, size_t& imageSize) {
    const uint8_t data[4] = {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8),
                             static_cast<uint8_t>(index >> 16), static_cast<uint8_t>(index >> 24)};
    const int result = readCommand(kReadScanConfig, data, sizeof data);
    if (result <= 0) return result;
    const size_t payload = replyPayloadLength();
    if (payload < 4) return kLinkFlag4;
    const size_t size = get32(replyPayload());
    if (size > payload - 4 || size > capacity) return kLinkFlag4;
    if (size > 0) {
        if (image == nullptr) return kLinkFlag4;
        std::memcpy(image, replyPayload() + 4, size);
    }
    imageSize = size;
    return result;
}

int eraseScanConfigs() {
    const uint8_t key = 0x5A;
    return writeCommand(kEraseScanConfigs, &key, 1);
}

int writeScanConfig(uint8_t position, const uint8_t* image, size_t imageSize) {
    if (imageSize > kMaxWrittenConfigImage || (imageSize > 0 && image == nullptr)) {
        return kLinkNoModule;
    }
    // The whole 192 bytes go out; what follows the image is zero.
    uint8_t message[kWriteScanConfigMessage] = {};
    message[0] = kWriteFlags;
    message[1] = nextSequence();
    message[2] = static_cast<uint8_t>(kWriteScanConfigLength & 0xFF);
    message[3] = static_cast<uint8_t>(kWriteScanConfigLength >> 8);
    message[4] = kWriteScanConfig.number;
    message[5] = kWriteScanConfig.group;
    message[6] = 0x00;
    message[7] = position;
    message[8] = static_cast<uint8_t>(imageSize);
    if (imageSize > 0) std::memcpy(message + 9, image, imageSize);
    if (sendRequest(message, sizeof message) <= 0) return kLinkNoModule;
    return readStatus();
}

int setAverageCount(uint16_t count) {
    const uint8_t data[2] = {static_cast<uint8_t>(count), static_cast<uint8_t>(count >> 8)};
    return writeCommand(kSetAverageCount, data, 2);
}

int preScanSetting() {
    const uint8_t data[2] = {0x00, 0x40};
    return writeCommand(kPreScanSetting, data, 2) == 0 ? 0 : 1;
}

int startScan() {
    const uint8_t data = 0x00;
    return writeCommand(kStartScan, &data, 1);
}

int readDeviceStatus(uint32_t& status) {
    return readWord(kReadDeviceStatus, status);
}

int readScanDataSize(uint32_t& size) {
    const uint8_t data[4] = {0, 0, 0, 0};
    return readWord(kReadScanDataSize, size, data, sizeof data);
}

int readScanDataChunk(uint8_t* piece, size_t capacity, size_t& pieceLength) {
    const int result = readCommand(kReadScanDataChunk);
    if (result <= 0) return result;
    const size_t length = replyPayloadLength();
    if (length > capacity || piece == nullptr) return kLinkFlag4;
    std::memcpy(piece, replyPayload(), length);
    pieceLength = length;
    return result;
}

}  // namespace quillon::link
