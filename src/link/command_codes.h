// Codes of the device commands: command number first, then command group,
// as they stand at bytes 4 and 5 of a request message.
#pragma once

#include <cstdint>

namespace quillon::link {

struct CommandCode {
    uint8_t number;
    uint8_t group;
};

// Both bytes in one value (number in the low byte), handy as a map key.
constexpr uint16_t codeKey(CommandCode code) {
    return static_cast<uint16_t>(code.number | (code.group << 8));
}

constexpr CommandCode kReadVersions{0x16, 0x02};
constexpr CommandCode kReadActiveScanIndex{0x23, 0x02};
constexpr CommandCode kSetActiveScanIndex{0x24, 0x02};
constexpr CommandCode kReadEstimatedScanTime{0x37, 0x02};
constexpr CommandCode kLampOffControl{0x25, 0x02};
constexpr CommandCode kLampOnControl{0x05, 0x01};
constexpr CommandCode kReadCalibrationCoefficients{0x2A, 0x02};
constexpr CommandCode kReadScanConfigCount{0x22, 0x02};
constexpr CommandCode kReadScanConfig{0x20, 0x02};
constexpr CommandCode kEraseScanConfigs{0x21, 0x02};
constexpr CommandCode kWriteScanConfig{0x1F, 0x02};
constexpr CommandCode kSetAverageCount{0x2E, 0x02};
constexpr CommandCode kPreScanSetting{0x0C, 0x04};
constexpr CommandCode kStartScan{0x18, 0x02};
constexpr CommandCode kReadDeviceStatus{0x03, 0x04};
constexpr CommandCode kReadScanDataSize{0x2D, 0x00};
constexpr CommandCode kReadScanDataChunk{0x2E, 0x00};

// The module's USB identity.
constexpr uint16_t kModuleVendorId = 0x0451;
constexpr uint16_t kModuleProductId = 0x4200;

}  // namespace quillon::link
