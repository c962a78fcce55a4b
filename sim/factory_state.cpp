// The factory settings of a simulated module. The calibration puts 1700 nm
// near column 54 and 900 nm near column 833; every pattern count stays below
// what its range and width admit under that calibration.
#include <cstring>

#include "sim/module_state.h"

namespace quillon::sim {
namespace {

ScanConfig namedConfig(uint8_t scanType, uint16_t index, const char* name) {
    ScanConfig config;
    std::memset(&config, 0, sizeof config);
    config.scanType = scanType;
    config.configIndex = index;
    std::strncpy(config.configName, name, kConfigNameSize - 1);
    return config;
}

ScanSection section(uint8_t type, uint8_t width, uint16_t startNm, uint16_t endNm,
                    uint16_t patterns, uint16_t exposure) {
    return ScanSection{type, width, startNm, endNm, patterns, exposure};
}

Image encoded(const ScanConfig& config) {
    Image image(kSectionedConfigImageSize);
    size_t size = 0;
    if (scanConfigImageSize(config, size) != RecordStatus::Ok || size > image.size()) return {};
    image.resize(size);
    if (encodeScanConfig(config, image.data(), image.size()) != RecordStatus::Ok) return {};
    return image;
}

}  // namespace

ModuleState factoryState() {
    ModuleState state;
    const uint32_t versions[7] = {0x00030201, 0x00010004, 0x00020005, 0x00000101,
                                  0x01000007, 0x00000003, 0x0000002A};
    std::memcpy(state.versions, versions, sizeof versions);
    state.calibration = CalibrationCoefficients{{-4.0, 0.012, 0.000015}, {1750.0, -0.92, -0.00012}};

    ScanConfig column = namedConfig(0, 0, "Column 900-1700");
    column.single.wavelengthStartNm = 900;
    column.single.wavelengthEndNm = 1700;
    column.single.widthPixels = 6;
    column.single.numPatterns = 228;
    column.single.numRepeats = 6;

    ScanConfig hadamard = namedConfig(kSectionedScanType, 1, "Hadamard 900-1700");
    hadamard.sectioned.numRepeats = 6;
    hadamard.sectioned.numSections = 1;
    hadamard.sectioned.sections[0] = section(1, 6, 900, 1700, 228, 0);

    ScanConfig mixed = namedConfig(kSectionedScanType, 2, "Column + Hadamard");
    mixed.sectioned.numRepeats = 4;
    mixed.sectioned.numSections = 2;
    mixed.sectioned.sections[0] = section(0, 6, 900, 1300, 100, 1);
    mixed.sectioned.sections[1] = section(1, 6, 1300, 1700, 100, 1);

    for (const ScanConfig* config : {&column, &hadamard, &mixed}) {
        Image image = encoded(*config);
        if (!image.empty()) state.configImages.push_back(std::move(image));
    }
    state.activeIndex = 0;
    return state;
}

bool decodeStoredConfig(const Image& image, ScanConfig& config) {
    if (image.empty() || image.size() > kSectionedConfigImageSize + 64) return false;
    std::memset(&config, 0, sizeof config);
    return decodeScanConfig(image.data(), image.size(), config) == RecordStatus::Ok;
}

}  // namespace quillon::sim
