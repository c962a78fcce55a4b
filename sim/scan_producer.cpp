#include "sim/scan_producer.h"

#include "sim/module_variations.h"
#include "sim/synthetic_spectrum.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quillon::sim {
namespace {

// One dark reading after every seven measured ones.
constexpr uint8_t kDarkPeriod = 8;

template <typename Record>
void fillHead(Record& record, const ScanContext& context, uint32_t patterns) {
    record.headerVersion = 1;
    std::snprintf(record.scanName, sizeof record.scanName, "sim scan %u", context.scanNumber);
    record.calibration = context.calibration;
    const uint32_t darks = patterns / (kDarkPeriod - 1);
    record.sampleCount = static_cast<uint16_t>(std::min<uint32_t>(patterns + darks, kMaxSamples));
    record.darkPatternFirst = kDarkPeriod - 1;
    record.darkPatternPeriod = kDarkPeriod;
}

std::vector<uint8_t> blankWhole(const ScanContext& context) {
    auto record = std::make_unique<ScanDataWhole>();
    std::memset(record.get(), 0, sizeof *record);
    const ScanConfig& config = context.config;
    fillHead(*record, context, config.single.numPatterns);
    record->scanType = config.scanType;
    record->configIndex = config.configIndex;
    std::memcpy(record->configBytes8, config.configBytes8, sizeof record->configBytes8);
    std::memcpy(record->configName, config.configName, sizeof record->configName);
    record->wavelengthStartNm = config.single.wavelengthStartNm;
    record->wavelengthEndNm = config.single.wavelengthEndNm;
    record->widthPixels = config.single.widthPixels;
    record->numPatterns = config.single.numPatterns;
    record->numRepeats = config.single.numRepeats;
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    if (encodeScanDataWhole(*record, image.data(), image.size(), written) != RecordStatus::Ok)
        return {};
    image.resize(written);
    return image;
}

std::vector<uint8_t> blankSplit(const ScanContext& context) {
    auto record = std::make_unique<ScanDataSplit>();
    std::memset(record.get(), 0, sizeof *record);
    const ScanConfig& config = context.config;
    uint32_t patterns = 0;
    const int sections = std::min<int>(config.sectioned.numSections, kMaxSections);
    for (int s = 0; s < sections; ++s) patterns += config.sectioned.sections[s].numPatterns;
    fillHead(*record, context, patterns);
    record->scanType = kSectionedScanType;
    record->configIndex = config.configIndex;
    std::memcpy(record->configBytes8, config.configBytes8, sizeof record->configBytes8);
    std::memcpy(record->configName, config.configName, sizeof record->configName);
    record->numRepeats = config.sectioned.numRepeats;
    record->numSections = config.sectioned.numSections;
    std::memcpy(record->sections, config.sectioned.sections, sizeof record->sections);
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    if (encodeScanDataSplit(*record, image.data(), image.size(), written) != RecordStatus::Ok)
        return {};
    image.resize(written);
    return image;
}

}  // namespace

std::vector<uint8_t> produceBlankScan(const ScanContext& context) {
    return context.config.scanType == kSectionedScanType ? blankSplit(context)
                                                         : blankWhole(context);
}

ScanProducer defaultScanProducer() {
    return syntheticScanProducer(syntheticOptionsFromEnvironment());
}

}  // namespace quillon::sim
