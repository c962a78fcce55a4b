// What the simulated module remembers between requests. Stored scan
// configurations are kept as the record images that were written, exactly as
// a module keeps them, and served back byte for byte.
#pragma once

#include <cstdint>
#include <vector>

#include "serial/records.h"

namespace quillon::sim {

constexpr uint32_t kScanRunningBit = 0x2;

using Image = std::vector<uint8_t>;

struct ModuleState {
    uint32_t versions[7];
    std::vector<Image> configImages;  // position p holds the image written at p
    uint8_t activeIndex = 0;
    CalibrationCoefficients calibration{};
    bool lampOn = false;
    uint16_t averageCount = 1;
    // Status bits the module reports besides the scan-running bit.
    uint32_t statusBits = 0;
};

// The module as it leaves the factory: versions, calibration and the three
// stored configurations (Column single form, Hadamard, Column + Hadamard).
ModuleState factoryState();

// Decodes a stored image; false when it is not a configuration image.
bool decodeStoredConfig(const Image& image, ScanConfig& config);

}  // namespace quillon::sim
