#include "serial/records.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "serial/tpl.h"

namespace quillon {

namespace {

constexpr const char* kFormats[] = {
    "S(uc#cccccccjjvvu$(f#f#)c#vccccvc#c#vvcvvi#)",  // 0 scan data, whole form
    "S(cvc#c#vvcvv)",                                // 1 configuration, single form
    "S(f#f#)",                                       // 2 calibration coefficients
    nullptr,                                         // 3 unassigned
    "S(cvc#c#vc)",                                   // 4 configuration head
    "S(ccvvvv)#",                                    // 5 five sections
    "S(uc#cccccccjjvvu$(f#f#)c#vccc)",               // 6 scan data head
    "i#",                                            // 7 detector readings
};
constexpr int kKindCount = sizeof kFormats / sizeof kFormats[0];

// Offsets of the parts of a split-form record that have their own images.
constexpr size_t kSplitConfigOffset = offsetof(ScanDataSplit, scanType);
constexpr size_t kSplitSectionsOffset = offsetof(ScanDataSplit, sections);
constexpr size_t kSplitSamplesOffset = offsetof(ScanDataSplit, samples);
static_assert(kSplitConfigOffset == 110 && kSplitSectionsOffset == 166 &&
              kSplitSamplesOffset == 216);
static_assert(offsetof(ScanConfig, sectioned.sections) == 56);
static_assert(offsetof(ScanConfig, single.numRepeats) == 60);
static_assert(offsetof(ScanDataRecord, whole) == offsetof(ScanDataRecord, split));

struct HandleDeleter {
    void operator()(tpl_node* tn) const { tpl_release(tn); }
};
using Handle = std::unique_ptr<tpl_node, HandleDeleter>;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// Binds a record kind onto `record` (which must be laid out as the kind's
// mapping places its members).
Handle bindRecord(const void* record, int kind) {
    void* address = const_cast<void*>(record);
    switch (kind) {
        case kScanDataWhole:
            return Handle(tpl_bind(kFormats[kind], {address, 20, 3, 3, 8, 8, 40, kMaxSamples}));
        case kScanConfigSingle:
            return Handle(tpl_bind(kFormats[kind], {address, 8, kConfigNameSize}));
        case kCalibrationRecord:
            return Handle(tpl_bind(kFormats[kind], {address, 3, 3}));
        case kScanConfigHead:
            return Handle(tpl_bind(kFormats[kind], {address, 8, kConfigNameSize}));
        case kScanSectionList:
            return Handle(tpl_bind(kFormats[kind], {address, kMaxSections}));
        case kScanDataHead:
            return Handle(tpl_bind(kFormats[kind], {address, 20, 3, 3, 8}));
        case kScanAdcData:
            return Handle(tpl_bind(kFormats[kind], {address, kMaxSamples}));
        default:
            return nullptr;
    }
}

RecordStatus recordImageSize(const void* record, int kind, size_t& size) {
    Handle tn = bindRecord(record, kind);
    if (!tn || tpl_pack(tn.get(), 0) != 0 || tpl_dump(tn.get(), TPL_SIZEONLY, &size) != 0)
        return RecordStatus::SerializationFailed;
    return RecordStatus::Ok;
}

RecordStatus encodeRecord(const void* record, int kind, uint8_t* buffer, size_t size) {
    Handle tn = bindRecord(record, kind);
    if (!tn || tpl_pack(tn.get(), 0) != 0 ||
        tpl_dump(tn.get(), TPL_MEMIMAGE | TPL_CALLERBUF, buffer, size) != 0)
        return RecordStatus::SerializationFailed;
    return RecordStatus::Ok;
}

// Validates the image of `kind` in `image` (at most `size` bytes; bytes after
// the image are allowed) and copies its values into `record`.
RecordStatus decodeRecord(const uint8_t* image, size_t size, int kind, void* record) {
    Handle tn = bindRecord(record, kind);
    if (!tn || tpl_load(tn.get(), TPL_MEMIMAGE | TPL_ALLOWEXCESS, image, size) != 0 ||
        tpl_unpack(tn.get(), 0) != 1)
        return RecordStatus::SerializationFailed;
    return RecordStatus::Ok;
}

// Image size of a kind; 0 when the kind cannot be bound. The sizes do not
// depend on the record's values, so they are taken once.
size_t kindImageSize(int kind) {
    static const auto sizes = [] {
        std::array<size_t, kKindCount> out{};
        alignas(ScanDataWhole) static uint8_t scratch[sizeof(ScanDataWhole)];
        for (int k = 0; k < kKindCount; ++k)
            if (recordImageSize(scratch, k, out[k]) != RecordStatus::Ok) out[k] = 0;
        return out;
    }();
    return kind >= 0 && kind < kKindCount ? sizes[kind] : 0;
}

using Parts = std::initializer_list<std::pair<const void*, int>>;

// Sum of the image sizes of the kinds in `parts`.
RecordStatus imageSizeSum(Parts parts, size_t& total) {
    total = 0;
    for (auto part : parts) {
        size_t size = kindImageSize(part.second);
        if (size == 0) return RecordStatus::SerializationFailed;
        total += size;
    }
    return RecordStatus::Ok;
}

// Writes the images of `parts` one after another into buffer.
RecordStatus encodeParts(Parts parts, uint8_t* buffer, size_t size, size_t& written) {
    written = 0;
    if (!buffer) return RecordStatus::MissingPointer;
    size_t total = 0;
    if (RecordStatus rc = imageSizeSum(parts, total); rc != RecordStatus::Ok) return rc;
    if (size < total) return RecordStatus::BufferTooSmall;
    for (auto [record, kind] : parts) {
        if (RecordStatus rc = encodeRecord(record, kind, buffer + written, size - written);
            rc != RecordStatus::Ok)
            return rc;
        written += kindImageSize(kind);
    }
    return RecordStatus::Ok;
}

}  // namespace

const char* recordFormat(int kind) {
    if (kind < 0 || kind >= kKindCount) return nullptr;
    return kFormats[kind];
}

RecordStatus scanConfigImageSize(const ScanConfig& config, size_t& size) {
    if (config.scanType == kSectionedScanType)
        return imageSizeSum(
            {{&config, kScanConfigHead}, {config.sectioned.sections, kScanSectionList}}, size);
    return imageSizeSum({{&config, kScanConfigSingle}}, size);
}

RecordStatus encodeScanConfig(const ScanConfig& config, uint8_t* buffer, size_t size) {
    size_t written = 0;
    if (config.scanType == kSectionedScanType)
        return encodeParts(
            {{&config, kScanConfigHead}, {config.sectioned.sections, kScanSectionList}}, buffer,
            size, written);
    return encodeParts({{&config, kScanConfigSingle}}, buffer, size, written);
}

RecordStatus decodeScanConfig(const uint8_t* buffer, size_t size, ScanConfig& config) {
    if (!buffer) return RecordStatus::MissingPointer;
    uint8_t scanType = 0;
    std::unique_ptr<char, FreeDeleter> format(
        tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, buffer, size, "c", {&scanType}));
    if (!format) return RecordStatus::SerializationFailed;
    format.reset();

    ScanConfig decoded{};
    RecordStatus rc;
    if (scanType == kSectionedScanType) {
        size_t headSize = kindImageSize(kScanConfigHead);
        size_t listSize = kindImageSize(kScanSectionList);
        if (headSize == 0 || listSize == 0) return RecordStatus::SerializationFailed;
        if (size < headSize + listSize) return RecordStatus::BufferTooSmall;
        if ((rc = decodeRecord(buffer, headSize, kScanConfigHead, &decoded)) != RecordStatus::Ok)
            return rc;
        rc = decodeRecord(buffer + headSize, size - headSize, kScanSectionList,
                          decoded.sectioned.sections);
    } else {
        size_t singleSize = kindImageSize(kScanConfigSingle);
        if (singleSize == 0) return RecordStatus::SerializationFailed;
        if (size < singleSize) return RecordStatus::BufferTooSmall;
        rc = decodeRecord(buffer, size, kScanConfigSingle, &decoded);
    }
    if (rc == RecordStatus::Ok) config = decoded;
    return rc;
}

RecordStatus encodeCalibration(const CalibrationCoefficients& cal, uint8_t* buffer, size_t size) {
    size_t written = 0;
    return encodeParts({{&cal, kCalibrationRecord}}, buffer, size, written);
}

RecordStatus decodeCalibration(const uint8_t* buffer, size_t size, CalibrationCoefficients& cal) {
    if (!buffer) return RecordStatus::MissingPointer;
    size_t imageSize = kindImageSize(kCalibrationRecord);
    if (imageSize == 0) return RecordStatus::SerializationFailed;
    if (size < imageSize) return RecordStatus::BufferTooSmall;
    CalibrationCoefficients decoded{};
    RecordStatus rc = decodeRecord(buffer, size, kCalibrationRecord, &decoded);
    if (rc == RecordStatus::Ok) cal = decoded;
    return rc;
}

RecordStatus decodeScanData(const uint8_t* buffer, size_t size, ScanDataRecord& record) {
    if (!buffer) return RecordStatus::MissingPointer;
    std::unique_ptr<char, FreeDeleter> format(tpl_peek(TPL_MEMIMAGE, buffer, size));
    std::memset(static_cast<void*>(&record), 0, sizeof record);

    if (!format || std::strcmp(format.get(), kFormats[kScanDataWhole]) == 0) {
        // The module's whole-form images do not always carry a usable magic,
        // flags byte or length: those first bytes are forced to a plain
        // little-endian header and the length field is not consulted.
        record.form = ScanDataForm::Whole;
        uint8_t local[kScanDataBufferSize];
        std::vector<uint8_t> large;
        uint8_t* copy = local;
        if (size > sizeof local) {
            large.resize(size);
            copy = large.data();
        }
        std::memcpy(copy, buffer, size);
        static constexpr uint8_t kHead[5] = {'t', 'p', 'l', 0, 0};
        std::memcpy(copy, kHead, size < sizeof kHead ? size : sizeof kHead);
        return decodeRecord(copy, size, kScanDataWhole, &record.whole);
    }

    record.form = ScanDataForm::Split;
    ScanDataSplit& split = record.split;
    auto* base = reinterpret_cast<uint8_t*>(&split);
    const std::pair<void*, int> parts[] = {
        {base, kScanDataHead},
        {base + kSplitConfigOffset, kScanConfigHead},
        {base + kSplitSectionsOffset, kScanSectionList},
        {base + kSplitSamplesOffset, kScanAdcData},
    };
    size_t sizes[4];
    size_t total = 0;
    for (int k = 0; k < 4; ++k) {
        sizes[k] = kindImageSize(parts[k].second);
        if (sizes[k] == 0) return RecordStatus::SerializationFailed;
        total += sizes[k];
    }
    if (total > size) return RecordStatus::BufferTooSmall;
    size_t offset = 0;
    RecordStatus rc = RecordStatus::Ok;
    for (int k = 0; k < 4; ++k) {
        rc = decodeRecord(buffer + offset, sizes[k], parts[k].second, parts[k].first);
        if (rc != RecordStatus::Ok) return rc;
        offset += sizes[k];
    }
    return rc;
}

RecordStatus encodeScanDataWhole(const ScanDataWhole& record, uint8_t* buffer, size_t size,
                                 size_t& written) {
    return encodeParts({{&record, kScanDataWhole}}, buffer, size, written);
}

RecordStatus encodeScanDataSplit(const ScanDataSplit& record, uint8_t* buffer, size_t size,
                                 size_t& written) {
    return encodeParts({{&record, kScanDataHead},
                        {&record.scanType, kScanConfigHead},
                        {record.sections, kScanSectionList},
                        {record.samples, kScanAdcData}},
                       buffer, size, written);
}

size_t configNameLength(const char (&name)[kConfigNameSize]) {
    return strnlen(name, kConfigNameSize);
}

}  // namespace quillon
