#include "spectrum/interpret.h"

#include <cstring>
#include <memory>
#include <new>

#include "spectrum/geometry.h"
#include "spectrum/hadamard.h"
#include "spectrum/truncation.h"

namespace quillon {
namespace {

// Working space of one interpretation, obtained once per call so that the
// caller's stack stays small and an allocation failure is a result code.
struct Scratch {
    HadamardPlan plan;
    double measurement[kMaxSamples];
    double decoded[kMaxHadamardOrder];
    ScanDataSplit corrected;
    ScanDataWhole section;
    ScanResults sectionResults;
    ScanResults output;
    ScanDataRecord image;
};

std::unique_ptr<Scratch> newScratch() {
    return std::unique_ptr<Scratch>(new (std::nothrow) Scratch);
}

// The head members that travel unchanged from a record into its results, or
// from a split-form record into one of its sections.
template <typename From, typename To>
void copyHead(const From& from, To& to) {
    to.headerVersion = from.headerVersion;
    std::memcpy(to.scanName, from.scanName, sizeof to.scanName);
    std::memcpy(to.hdrBytes7, from.hdrBytes7, sizeof to.hdrBytes7);
    to.hdrSigned1 = from.hdrSigned1;
    to.hdrSigned2 = from.hdrSigned2;
    to.hdrUnsigned1 = from.hdrUnsigned1;
    to.hdrUnsigned2 = from.hdrUnsigned2;
    to.hdrWord = from.hdrWord;
    to.calibration = from.calibration;
    std::memcpy(to.hdrBytes8, from.hdrBytes8, sizeof to.hdrBytes8);
    to.hdrLastByte = from.hdrLastByte;
}

ScanSection sectionOf(const ScanDataWhole& record) {
    ScanSection section{};
    section.sectionScanType = record.scanType;
    section.widthPixels = record.widthPixels;
    section.wavelengthStartNm = record.wavelengthStartNm;
    section.wavelengthEndNm = record.wavelengthEndNm;
    section.numPatterns = record.numPatterns;
    return section;
}

// Walks the samples in order and tells the dark ones: sample i is dark when
// i - first is a multiple of the period (negative multiples count), found
// without a division per sample.
class DarkWalk {
  public:
    DarkWalk(unsigned first, unsigned period)
        : period_(static_cast<int>(period)), phase_(phaseOfSampleZero(first, period)) {}
    // Whether the next sample is dark.
    bool next() {
        const bool dark = phase_ == 0;
        if (++phase_ == period_) phase_ = 0;
        return dark;
    }

  private:
    // Distance of sample 0 from the dark sample before it: (0 - first) mod period.
    static int phaseOfSampleZero(unsigned first, unsigned period) {
        const int p = static_cast<int>(period);
        return ((-static_cast<int>(first)) % p + p) % p;
    }
    int period_;
    int phase_;
};

// Mean of the dark readings among the first `count` samples, truncated toward
// zero; summed wide so that no run of large readings overflows.
int32_t darkLevel(const int32_t* samples, int count, unsigned first, unsigned period) {
    int64_t sum = 0;
    int64_t darks = 0;
    DarkWalk walk(first, period);
    for (int i = 0; i < count; ++i) {
        if (walk.next()) {
            sum += samples[i];
            ++darks;
        }
    }
    return darks ? static_cast<int32_t>(sum / darks) : 0;
}

int32_t lessDark(int32_t sample, int32_t level) {
    return static_cast<int32_t>(static_cast<int64_t>(sample) - level);
}

SpecStatus hadamardScan(const ScanDataWhole& record, ScanResults& results, Scratch& scratch) {
    copyResultHeader(record, results);
    SpecStatus rc = removeDarkLevel(record, results);
    if (rc != SpecStatus::Ok) return rc;
    double* y = scratch.measurement;
    for (int i = 0; i < kMaxSamples; ++i) y[i] = (i < results.length) ? results.intensity[i] : 0.0;

    HadamardPlan& plan = scratch.plan;
    rc = planHadamardSection(sectionOf(record), record.calibration, plan);
    if (rc != SpecStatus::Ok) return rc;
    if (plan.groupCount == 0) {
        results.length = 0;
        return SpecStatus::Ok;
    }
    // Readings beyond the valid samples are zeros; readings beyond the record are refused.
    if (plan.total > kMaxSamples) return SpecStatus::OutOfRange;

    int offset = 0;
    int decoded = 0;
    for (int g = 0; g < plan.groupCount; ++g) {
        const PatternGroup& group = plan.groups[g];
        const int order = group.order;
        if (order > kMaxHadamardOrder) return SpecStatus::OutOfRange;
        switch (hadamardDecode(order, y + offset, scratch.decoded)) {
            case 0:
                break;
            case -3:
                return SpecStatus::NoMemory;
            default:
                return SpecStatus::OutOfRange;
        }
        for (int j = 0; j < group.count; ++j) {
            const int idx = group.patternIndex[j];
            results.intensity[idx] = truncateToInt32(scratch.decoded[j]);
            results.wavelengthNm[idx] =
                pixelToNm(patternColumn(group.position[j], record.widthPixels),
                          record.calibration.pixelToNmCoeffs);
        }
        offset += order;
        decoded += group.count;
    }
    results.length = decoded;
    return SpecStatus::Ok;
}

// Readings a section takes, dark readings not counted.
SpecStatus measuredReadings(const ScanSection& section, const CalibrationCoefficients& cal,
                            HadamardPlan& plan, int& measured) {
    switch (section.sectionScanType) {
        case 0:
            measured = section.numPatterns;
            return SpecStatus::Ok;
        case 1: {
            const SpecStatus rc = planHadamardSection(section, cal, plan);
            if (rc != SpecStatus::Ok) return rc;
            measured = plan.total;
            return SpecStatus::Ok;
        }
        default:
            return SpecStatus::UnsupportedSection;
    }
}

SpecStatus extractSection(const ScanDataSplit& record, int s, ScanDataWhole& out,
                          HadamardPlan& plan) {
    if (record.numSections > kMaxSections) return SpecStatus::OutOfRange;
    if (s < 0 || s >= record.numSections) return SpecStatus::OutOfRange;
    // With a period of 1 every position is dark and the walk below never ends;
    // a period of 0 has no dark positions to walk to.
    const int period = record.darkPatternPeriod;
    if (period < 2) return SpecStatus::OutOfRange;
    if (record.sampleCount > kMaxSamples) return SpecStatus::OutOfRange;

    int start = 0;
    int span = 0;
    for (int t = 0; t <= s; ++t) {
        int measured = 0;
        const SpecStatus rc =
            measuredReadings(record.sections[t], record.calibration, plan, measured);
        if (rc != SpecStatus::Ok) return rc;
        if (start + measured > record.sampleCount) return SpecStatus::OutOfRange;
        // The readings at positions k - 1 with k a multiple of the period are
        // dark; the section ends where it has seen `measured` other readings.
        int dark = 0;
        if (measured > 0) {
            for (int k = start + 1;; ++k) {
                if (k % period == 0) ++dark;
                if (k >= start + measured + dark) break;
            }
        }
        span = measured + dark;
        if (start + span > record.sampleCount) return SpecStatus::OutOfRange;
        if (t < s) start += span;
    }

    std::memset(&out, 0, sizeof out);
    copyHead(record, out);
    out.sampleCount = static_cast<uint16_t>(span);
    out.darkPatternPeriod = static_cast<uint8_t>(period);
    out.darkPatternFirst = static_cast<uint8_t>(record.darkPatternFirst - start % period);
    const ScanSection& section = record.sections[s];
    out.scanType = section.sectionScanType;
    out.widthPixels = section.widthPixels;
    out.wavelengthStartNm = section.wavelengthStartNm;
    out.wavelengthEndNm = section.wavelengthEndNm;
    out.numPatterns = section.numPatterns;
    out.configIndex = record.configIndex;
    std::memcpy(out.configBytes8, record.configBytes8, sizeof out.configBytes8);
    std::memcpy(out.configName, record.configName, sizeof out.configName);
    out.numRepeats = record.numRepeats;
    std::memcpy(out.samples, record.samples + start, sizeof(int32_t) * span);
    return SpecStatus::Ok;
}

SpecStatus sectionedScan(const ScanDataSplit& record, ScanResults& results, Scratch& scratch) {
    const unsigned period = record.darkPatternPeriod;
    if (period == 0) return SpecStatus::OutOfRange;
    const int count = record.sampleCount;
    if (count > kMaxSamples) return SpecStatus::OutOfRange;

    // Dark level over the whole record; dark readings become 0 so that each
    // section's own dark pass finds nothing more to remove.
    ScanDataSplit& corrected = scratch.corrected;
    corrected = record;
    const int32_t level = darkLevel(record.samples, count, record.darkPatternFirst, period);
    DarkWalk walk(record.darkPatternFirst, period);
    for (int i = 0; i < count; ++i) {
        corrected.samples[i] = walk.next() ? 0 : lessDark(record.samples[i], level);
    }
    if (record.numSections == 0) return SpecStatus::Ok;
    if (record.numSections > kMaxSections) return SpecStatus::OutOfRange;

    int offset = 0;
    for (int s = 0; s < record.numSections; ++s) {
        ScanDataWhole& section = scratch.section;
        ScanResults& part = scratch.sectionResults;
        SpecStatus rc = extractSection(corrected, s, section, scratch.plan);
        if (rc != SpecStatus::Ok) return rc;
        // Cleared, so that nothing of an earlier call reaches the caller.
        std::memset(&part, 0, sizeof part);
        switch (section.scanType) {
            case 0:
                rc = interpretColumnScan(section, part);
                break;
            case 1:
                rc = hadamardScan(section, part, scratch);
                break;
            default:
                return SpecStatus::UnsupportedSection;
        }
        if (rc != SpecStatus::Ok) return rc;
        const int points = section.numPatterns;
        if (offset + points > kMaxSamples) return SpecStatus::OutOfRange;
        if (s == 0) {
            results = part;
            copyResultHeader(record, results);
        } else {
            std::memcpy(results.intensity + offset, part.intensity, sizeof(int32_t) * points);
            std::memcpy(results.wavelengthNm + offset, part.wavelengthNm, sizeof(double) * points);
            results.length += part.length;
        }
        offset += points;
    }
    return SpecStatus::Ok;
}

SpecStatus interpretRecord(const ScanDataRecord& record, ScanResults& results, Scratch& scratch) {
    const uint32_t version = record.form == ScanDataForm::Split ? record.split.headerVersion
                                                                : record.whole.headerVersion;
    if (version != 1) return SpecStatus::NoSolution;
    std::memset(&results, 0, sizeof results);
    if (record.form == ScanDataForm::Split) return sectionedScan(record.split, results, scratch);
    switch (record.whole.scanType) {
        case 0:
            return interpretColumnScan(record.whole, results);
        case 1:
            return hadamardScan(record.whole, results, scratch);
        default:
            return SpecStatus::OutOfRange;
    }
}

}  // namespace

SpecStatus removeDarkLevel(const ScanDataWhole& record, ScanResults& results) {
    const unsigned period = record.darkPatternPeriod;
    if (period == 0) return SpecStatus::OutOfRange;
    const int count = record.sampleCount;
    if (count > kMaxSamples) return SpecStatus::OutOfRange;
    const unsigned first = record.darkPatternFirst;
    const int32_t level = darkLevel(record.samples, count, first, period);
    int k = 0;
    DarkWalk walk(first, period);
    for (int i = 0; i < count; ++i) {
        if (!walk.next()) results.intensity[k++] = lessDark(record.samples[i], level);
    }
    results.length = k;
    return SpecStatus::Ok;
}

namespace {

// The results always carry a sectioned configuration, whichever form was read.
template <typename Record>
ScanConfig& copyConfigHead(const Record& record, ScanResults& results) {
    copyHead(record, results);
    ScanConfig& config = results.config;
    config.scanType = kSectionedScanType;
    config.configIndex = record.configIndex;
    std::memcpy(config.configBytes8, record.configBytes8, sizeof config.configBytes8);
    std::memcpy(config.configName, record.configName, sizeof config.configName);
    config.sectioned.numRepeats = record.numRepeats;
    return config;
}

}  // namespace

void copyResultHeader(const ScanDataWhole& record, ScanResults& results) {
    ScanConfig& config = copyConfigHead(record, results);
    config.sectioned.numSections = 1;
    ScanSection& section = config.sectioned.sections[0];
    section.sectionScanType = record.scanType;
    section.widthPixels = record.widthPixels;
    section.wavelengthStartNm = record.wavelengthStartNm;
    section.wavelengthEndNm = record.wavelengthEndNm;
    section.numPatterns = record.numPatterns;
    // the exposure setting is not part of a single-form record and stays as it was
}

void copyResultHeader(const ScanDataSplit& record, ScanResults& results) {
    ScanConfig& config = copyConfigHead(record, results);
    config.sectioned.numSections = record.numSections;
    std::memcpy(config.sectioned.sections, record.sections, sizeof config.sectioned.sections);
}

SpecStatus interpretColumnScan(const ScanDataWhole& record, ScanResults& results) {
    copyResultHeader(record, results);
    const SpecStatus rc = removeDarkLevel(record, results);
    if (rc != SpecStatus::Ok) return rc;
    const double* coeffs = record.calibration.pixelToNmCoeffs;
    double xs = 0.0;
    double xe = 0.0;
    if (nmToPixel(record.wavelengthStartNm, coeffs, &xs) != SpecStatus::Ok)
        return SpecStatus::OutOfRange;
    if (nmToPixel(record.wavelengthEndNm, coeffs, &xe) != SpecStatus::Ok)
        return SpecStatus::OutOfRange;
    const int n = record.numPatterns;
    // Readings beyond the configured patterns have no position: they are dropped.
    if (results.length > n) results.length = n;
    uint16_t position[kMaxSamples];
    spreadPositions(xs, xe, n, results.length, position);
    for (int k = 0; k < results.length; ++k) {
        results.wavelengthNm[k] = pixelToNm(patternColumn(position[k], record.widthPixels), coeffs);
    }
    return SpecStatus::Ok;
}

SpecStatus interpretHadamardScan(const ScanDataWhole& record, ScanResults& results) {
    auto scratch = newScratch();
    if (!scratch) return SpecStatus::NoMemory;
    return hadamardScan(record, results, *scratch);
}

SpecStatus extractScanSection(const ScanDataSplit& record, int section, ScanDataWhole& out) {
    auto plan = std::unique_ptr<HadamardPlan>(new (std::nothrow) HadamardPlan);
    if (!plan) return SpecStatus::NoMemory;
    return extractSection(record, section, out, *plan);
}

SpecStatus interpretSectionedScan(const ScanDataSplit& record, ScanResults& results) {
    auto scratch = newScratch();
    if (!scratch) return SpecStatus::NoMemory;
    return sectionedScan(record, results, *scratch);
}

SpecStatus interpretScanData(const uint8_t* image, size_t size, ScanResults& results) {
    if (!image) return SpecStatus::MissingArgument;
    auto scratch = newScratch();
    if (!scratch) return SpecStatus::NoMemory;
    // An image occupies at most the scan data buffer; bytes past it are not read.
    if (size > kScanDataBufferSize) size = kScanDataBufferSize;
    if (decodeScanData(image, size, scratch->image) != RecordStatus::Ok)
        return SpecStatus::Undecodable;
    const SpecStatus rc = interpretRecord(scratch->image, scratch->output, *scratch);
    if (rc == SpecStatus::Ok) results = scratch->output;
    return rc;
}

SpecStatus interpretScanRecord(const ScanDataRecord& record, ScanResults& results) {
    auto scratch = newScratch();
    if (!scratch) return SpecStatus::NoMemory;
    const SpecStatus rc = interpretRecord(record, scratch->output, *scratch);
    if (rc == SpecStatus::Ok) results = scratch->output;
    return rc;
}

}  // namespace quillon
