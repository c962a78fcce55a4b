#include "sim/measurement.h"

#include <cstring>
#include <memory>
#include <new>

#include "spectrum/geometry.h"
#include "spectrum/hadamard.h"
#include "spectrum/truncation.h"

namespace quillon {
namespace {

struct MeasureScratch {
    PatternPositions positions;
    HadamardPlan plan;
    SectionReadings section;
    double readings[kMaxSamples];
};

SpecStatus valuesOfPatterns(const ScanSection& section, int sectionIndex,
                            const CalibrationCoefficients& cal, const PatternValueFn& value,
                            PatternPositions& positions, SectionReadings& out) {
    const SpecStatus rc = computeSectionPositions(section, cal, positions);
    if (rc != SpecStatus::Ok) return rc;
    if (positions.count > kMaxSamples) return SpecStatus::OutOfRange;
    out.patternCount = positions.count;
    for (int k = 0; k < positions.count; ++k) {
        PatternBand band{};
        band.section = sectionIndex;
        band.index = k;
        band.position = positions.position[k];
        band.width = section.widthPixels;
        band.exposureTime = section.exposureTime;
        band.column = patternColumn(band.position, section.widthPixels);
        band.wavelengthNm = pixelToNm(band.column, cal.pixelToNmCoeffs);
        out.wavelengthNm[k] = band.wavelengthNm;
        out.value[k] = value ? value(band) : 0.0;
    }
    return SpecStatus::Ok;
}

SpecStatus measureWithScratch(const ScanSection& section, int sectionIndex,
                              const CalibrationCoefficients& cal, const PatternValueFn& value,
                              SectionReadings& out, PatternPositions& positions, HadamardPlan& plan,
                              const HadamardMatrixSet* matrices) {
    if (section.sectionScanType > 1) return SpecStatus::UnsupportedSection;
    SpecStatus rc = valuesOfPatterns(section, sectionIndex, cal, value, positions, out);
    if (rc != SpecStatus::Ok) return rc;
    if (section.sectionScanType == 0) {
        out.readingCount = out.patternCount;
        std::memcpy(out.reading, out.value, sizeof(double) * out.patternCount);
        return SpecStatus::Ok;
    }
    rc = planHadamardSection(section, cal, plan);
    if (rc != SpecStatus::Ok) return rc;
    if (plan.total > kMaxSamples) return SpecStatus::OutOfRange;
    int offset = 0;
    for (int g = 0; g < plan.groupCount; ++g) {
        const PatternGroup& group = plan.groups[g];
        if (group.order > kMaxHadamardOrder) return SpecStatus::OutOfRange;
        double members[kMaxHadamardOrder] = {};
        for (int j = 0; j < group.count; ++j) members[j] = out.value[group.patternIndex[j]];
        const int measured =
            matrices ? hadamardMeasureWith(*matrices, group.order, members, out.reading + offset)
                     : hadamardMeasure(group.order, members, out.reading + offset);
        if (measured != 0) return SpecStatus::OutOfRange;
        offset += group.order;
    }
    out.readingCount = offset;
    return SpecStatus::Ok;
}

}  // namespace

SpecStatus measureSection(const ScanSection& section, int sectionIndex,
                          const CalibrationCoefficients& cal, const PatternValueFn& value,
                          SectionReadings& out) {
    struct Work {
        PatternPositions positions;
        HadamardPlan plan;
    };
    auto work = std::unique_ptr<Work>(new (std::nothrow) Work);
    if (!work) return SpecStatus::NoMemory;
    return measureWithScratch(section, sectionIndex, cal, value, out, work->positions, work->plan,
                              nullptr);
}

SpecStatus layoutSamples(const double* readings, int readingCount, double darkLevel, int darkPeriod,
                         int32_t* samples, uint16_t& sampleCount) {
    if (darkPeriod < 2 || readingCount < 0) return SpecStatus::OutOfRange;
    if (readingCount > 0 && !readings) return SpecStatus::MissingArgument;
    if (!samples) return SpecStatus::MissingArgument;
    const int32_t dark = truncateToInt32(darkLevel);
    bool anyDark = false;
    int i = 0;
    for (int r = 0; r < readingCount; ++i) {
        if (i >= kMaxSamples) return SpecStatus::OutOfRange;
        if ((i + 1) % darkPeriod == 0) {
            samples[i] = dark;
            anyDark = true;
        } else {
            samples[i] = truncateToInt32(darkLevel + readings[r++]);
        }
    }
    if (i < kMaxSamples && (i + 1) % darkPeriod == 0) {
        samples[i++] = dark;
        anyDark = true;
    }
    if (!anyDark) return SpecStatus::OutOfRange;
    sampleCount = static_cast<uint16_t>(i);
    return SpecStatus::Ok;
}

SpecStatus synthesizeScanData(const ScanConfig& config, const CalibrationCoefficients& cal,
                              const PatternValueFn& value, double darkLevel, int darkPeriod,
                              ScanDataRecord& record, const ReadingsHook& hook,
                              const HadamardMatrixSet* matrices) {
    if (darkPeriod < 2 || darkPeriod > 255) return SpecStatus::OutOfRange;
    const bool split = config.scanType == kSectionedScanType;
    ScanSection sections[kMaxSections] = {};
    int sectionCount = 1;
    if (split) {
        sectionCount = config.sectioned.numSections;
        if (sectionCount > kMaxSections) return SpecStatus::OutOfRange;
        std::memcpy(sections, config.sectioned.sections, sizeof sections);
    } else {
        sections[0].sectionScanType = config.scanType;
        sections[0].widthPixels = config.single.widthPixels;
        sections[0].wavelengthStartNm = config.single.wavelengthStartNm;
        sections[0].wavelengthEndNm = config.single.wavelengthEndNm;
        sections[0].numPatterns = config.single.numPatterns;
    }

    auto work = std::unique_ptr<MeasureScratch>(new (std::nothrow) MeasureScratch);
    if (!work) return SpecStatus::NoMemory;
    int readingCount = 0;
    for (int s = 0; s < sectionCount; ++s) {
        const SpecStatus rc = measureWithScratch(sections[s], s, cal, value, work->section,
                                                 work->positions, work->plan, matrices);
        if (rc != SpecStatus::Ok) return rc;
        if (readingCount + work->section.readingCount > kMaxSamples) return SpecStatus::OutOfRange;
        std::memcpy(work->readings + readingCount, work->section.reading,
                    sizeof(double) * work->section.readingCount);
        readingCount += work->section.readingCount;
    }
    if (hook) hook(work->readings, readingCount);

    int32_t samples[kMaxSamples] = {};
    uint16_t sampleCount = 0;
    const SpecStatus rc =
        layoutSamples(work->readings, readingCount, darkLevel, darkPeriod, samples, sampleCount);
    if (rc != SpecStatus::Ok) return rc;

    std::memset(&record, 0, sizeof record);
    record.form = split ? ScanDataForm::Split : ScanDataForm::Whole;
    if (split) {
        ScanDataSplit& out = record.split;
        out.headerVersion = 1;
        out.calibration = cal;
        out.sampleCount = sampleCount;
        out.darkPatternFirst = static_cast<uint8_t>(darkPeriod - 1);
        out.darkPatternPeriod = static_cast<uint8_t>(darkPeriod);
        out.scanType = kSectionedScanType;
        out.configIndex = config.configIndex;
        std::memcpy(out.configBytes8, config.configBytes8, sizeof out.configBytes8);
        std::memcpy(out.configName, config.configName, sizeof out.configName);
        out.numRepeats = config.sectioned.numRepeats;
        out.numSections = static_cast<uint8_t>(sectionCount);
        std::memcpy(out.sections, sections, sizeof out.sections);
        std::memcpy(out.samples, samples, sizeof out.samples);
    } else {
        ScanDataWhole& out = record.whole;
        out.headerVersion = 1;
        out.calibration = cal;
        out.sampleCount = sampleCount;
        out.darkPatternFirst = static_cast<uint8_t>(darkPeriod - 1);
        out.darkPatternPeriod = static_cast<uint8_t>(darkPeriod);
        out.scanType = config.scanType;
        out.configIndex = config.configIndex;
        std::memcpy(out.configBytes8, config.configBytes8, sizeof out.configBytes8);
        std::memcpy(out.configName, config.configName, sizeof out.configName);
        out.wavelengthStartNm = config.single.wavelengthStartNm;
        out.wavelengthEndNm = config.single.wavelengthEndNm;
        out.widthPixels = config.single.widthPixels;
        out.numPatterns = config.single.numPatterns;
        out.numRepeats = config.single.numRepeats;
        std::memcpy(out.samples, samples, sizeof out.samples);
    }
    return SpecStatus::Ok;
}

}  // namespace quillon
