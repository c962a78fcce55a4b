// Each command: its code and data on the way out, its reply taken apart on the
// way back. Nothing here trusts a length from the module further than the
// bytes that actually arrived.
#include "link/commands.h"

#include <algorithm>
#include <cstring>

#include "core/bytes.h"
#include "link/command_codes.h"
#include "link/protocol.h"

namespace quillon::link {
namespace {

// The calibration image is looked for in the first 144 payload bytes.
constexpr size_t kCalibrationWindow = 144;
constexpr size_t kWriteScanConfigMessage = 192;
constexpr uint16_t kWriteScanConfigLength = 128;

using bytes::get32;

// A write command of up to four data bytes, answered by a status reply.
int writeCommand(LinkState& link, CommandCode code, std::span<const uint8_t> data) {
    uint8_t message[kHeaderSize + 2 + 4] = {};
    const size_t length = 2 + data.size();
    writeHeader(message, kWriteFlags, nextSequence(link), static_cast<uint16_t>(length), code);
    std::memcpy(message + 6, data.data(), data.size());
    if (sendRequest(link, message, kHeaderSize + length) <= 0) return kLinkNoModule;
    return readStatus(link);
}

// A read command whose reply carries one 32-bit value.
int readWord(LinkState& link, CommandCode code, uint32_t& value,
             std::span<const uint8_t> data = {}) {
    const Reply reply = exchange(link, code, data);
    if (reply.result <= 0) return reply.result;
    if (reply.payload.size() < 4) return kLinkFlag4;
    value = get32(reply.payload.data());
    return reply.result;
}

int readByte(LinkState& link, CommandCode code, uint8_t& value) {
    const Reply reply = exchange(link, code);
    if (reply.result <= 0) return reply.result;
    value = reply.payload[0];  // an accepted reply holds at least one byte
    return reply.result;
}

}  // namespace

int readVersions(LinkState& link, uint32_t words[7]) {
    const Reply reply = exchange(link, kReadVersions);
    if (reply.result <= 0) return reply.result;
    if (reply.payload.size() < 28) return kLinkFlag4;
    for (int i = 0; i < 7; ++i) words[i] = get32(reply.payload.data() + 4 * i);
    return reply.result;
}

int readActiveScanIndex(LinkState& link, uint8_t& index) {
    return readByte(link, kReadActiveScanIndex, index);
}

int setActiveScanIndexCommand(LinkState& link, uint8_t index) {
    return writeCommand(link, kSetActiveScanIndex, {&index, 1});
}

int readEstimatedScanTime(LinkState& link, uint32_t& milliseconds) {
    return readWord(link, kReadEstimatedScanTime, milliseconds);
}

int lampOffControl(LinkState& link, uint8_t off) {
    return writeCommand(link, kLampOffControl, {&off, 1});
}

int lampOnControl(LinkState& link, uint8_t on) {
    const uint8_t data[2] = {on, on};
    return writeCommand(link, kLampOnControl, data);
}

int readCalibrationCoefficients(LinkState& link, CalibrationCoefficients& cal) {
    const Reply reply = exchange(link, kReadCalibrationCoefficients);
    if (reply.result <= 0) return reply.result;
    // Decoded from a copy: the reply stays as it arrived, and `cal` is only
    // touched once the image proved sound.
    uint8_t image[kCalibrationWindow] = {};
    const size_t size = std::min(reply.payload.size(), kCalibrationWindow);
    std::memcpy(image, reply.payload.data(), size);
    CalibrationCoefficients decoded;
    if (decodeCalibration(image, size, decoded) != RecordStatus::Ok) return kLinkFlag4;
    cal = decoded;
    return reply.result;
}

int readScanConfigCount(LinkState& link, uint8_t& count) {
    return readByte(link, kReadScanConfigCount, count);
}

int readScanConfig(LinkState& link, uint32_t index, uint8_t* image, size_t capacity,
                   size_t& imageSize) {
    uint8_t data[4];
    bytes::put32(data, index);
    const Reply reply = exchange(link, kReadScanConfig, data);
    if (reply.result <= 0) return reply.result;
    const size_t payload = reply.payload.size();
    if (payload < 4) return kLinkFlag4;
    const size_t size = get32(reply.payload.data());
    if (size > payload - 4 || size > capacity) return kLinkFlag4;
    if (size > 0) {
        if (image == nullptr) return kLinkFlag4;
        std::memcpy(image, reply.payload.data() + 4, size);
    }
    imageSize = size;
    return reply.result;
}

int eraseScanConfigs(LinkState& link) {
    const uint8_t key = 0x5A;
    return writeCommand(link, kEraseScanConfigs, {&key, 1});
}

int writeScanConfig(LinkState& link, uint8_t position, const uint8_t* image, size_t imageSize) {
    if (imageSize > kMaxWrittenConfigImage || (imageSize > 0 && image == nullptr)) {
        return kLinkNoModule;
    }
    // The whole 192 bytes go out; what follows the image is zero.
    uint8_t message[kWriteScanConfigMessage] = {};
    writeHeader(message, kWriteFlags, nextSequence(link), kWriteScanConfigLength, kWriteScanConfig);
    message[6] = 0x00;
    message[7] = position;
    message[8] = static_cast<uint8_t>(imageSize);
    if (imageSize > 0) std::memcpy(message + 9, image, imageSize);
    if (sendRequest(link, message, sizeof message) <= 0) return kLinkNoModule;
    return readStatus(link);
}

int setAverageCount(LinkState& link, uint16_t count) {
    uint8_t data[2];
    bytes::put16(data, count);
    return writeCommand(link, kSetAverageCount, data);
}

int preScanSetting(LinkState& link) {
    const uint8_t data[2] = {0x00, 0x40};
    return writeCommand(link, kPreScanSetting, data) == 0 ? 0 : 1;
}

int startScan(LinkState& link) {
    const uint8_t data = 0x00;
    return writeCommand(link, kStartScan, {&data, 1});
}

int readDeviceStatus(LinkState& link, uint32_t& status) {
    return readWord(link, kReadDeviceStatus, status);
}

int readScanDataSize(LinkState& link, uint32_t& size) {
    const uint8_t data[4] = {0, 0, 0, 0};
    return readWord(link, kReadScanDataSize, size, data);
}

int readScanDataChunk(LinkState& link, uint8_t* piece, size_t capacity, size_t& pieceLength) {
    const Reply reply = exchange(link, kReadScanDataChunk);
    if (reply.result <= 0) return reply.result;
    const size_t length = reply.payload.size();
    if (length > capacity || piece == nullptr) return kLinkFlag4;
    std::memcpy(piece, reply.payload.data(), length);
    pieceLength = length;
    return reply.result;
}

}  // namespace quillon::link
