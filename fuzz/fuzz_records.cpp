// Record images of every kind: the record glue's decoders, and the image
// library's load and unpack (and peek) for each format string. The first byte
// picks what the rest of the input is fed to.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "scenarios.h"
#include "serial/records.h"
#include "serial/tpl.h"

using namespace quillon;

namespace {

// The counts each format's `#` entries are bound with, as the record glue binds them.
tpl_node* bindKind(int kind, void* record) {
    switch (kind) {
        case kScanDataWhole:
            return tpl_bind(recordFormat(kind), {record, 20, 3, 3, 8, 8, 40, kMaxSamples});
        case kScanConfigSingle:
        case kScanConfigHead:
            return tpl_bind(recordFormat(kind), {record, 8, kConfigNameSize});
        case kCalibrationRecord:
            return tpl_bind(recordFormat(kind), {record, 3, 3});
        case kScanSectionList:
            return tpl_bind(recordFormat(kind), {record, kMaxSections});
        case kScanDataHead:
            return tpl_bind(recordFormat(kind), {record, 20, 3, 3, 8});
        case kScanAdcData:
            return tpl_bind(recordFormat(kind), {record, kMaxSamples});
        default:
            return nullptr;
    }
}

// A copy of the input in a buffer exactly as long, so any read past it is caught.
std::unique_ptr<uint8_t[]> exactCopy(const uint8_t* data, size_t size) {
    auto copy = std::make_unique<uint8_t[]>(size == 0 ? 1 : size);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

void configImage(const uint8_t* image, size_t size) {
    ScanConfig config{};
    if (decodeScanConfig(image, size, config) != RecordStatus::Ok) return;
    // What decoded encodes to an image that decodes to the same record.
    size_t imageSize = 0;
    FUZZ_CHECK(scanConfigImageSize(config, imageSize) == RecordStatus::Ok);
    FUZZ_CHECK(imageSize == kScanConfigSingleImageSize || imageSize == kSectionedConfigImageSize);
    auto again = std::make_unique<uint8_t[]>(imageSize);
    FUZZ_CHECK(encodeScanConfig(config, again.get(), imageSize) == RecordStatus::Ok);
    ScanConfig second{};
    FUZZ_CHECK(decodeScanConfig(again.get(), imageSize, second) == RecordStatus::Ok);
    FUZZ_CHECK(std::memcmp(&config, &second, sizeof config) == 0);
}

void calibrationImage(const uint8_t* image, size_t size) {
    CalibrationCoefficients cal;
    std::memset(&cal, 0xA5, sizeof cal);
    const CalibrationCoefficients before = cal;
    if (decodeCalibration(image, size, cal) != RecordStatus::Ok) {
        FUZZ_CHECK(std::memcmp(&cal, &before, sizeof cal) == 0);
        return;
    }
    uint8_t again[kCalibrationImageSize];
    FUZZ_CHECK(encodeCalibration(cal, again, sizeof again) == RecordStatus::Ok);
    CalibrationCoefficients second{};
    FUZZ_CHECK(decodeCalibration(again, sizeof again, second) == RecordStatus::Ok);
    FUZZ_CHECK(std::memcmp(&cal, &second, sizeof cal) == 0);
}

void scanDataImage(const uint8_t* image, size_t size) {
    auto record = std::make_unique<ScanDataRecord>();
    if (decodeScanData(image, size, *record) != RecordStatus::Ok) return;
    auto again = std::make_unique<uint8_t[]>(kScanDataBufferSize);
    size_t written = 0;
    const RecordStatus rc =
        record->form == ScanDataForm::Whole
            ? encodeScanDataWhole(record->whole, again.get(), kScanDataBufferSize, written)
            : encodeScanDataSplit(record->split, again.get(), kScanDataBufferSize, written);
    FUZZ_CHECK(rc == RecordStatus::Ok);
    auto second = std::make_unique<ScanDataRecord>();
    FUZZ_CHECK(decodeScanData(again.get(), written, *second) == RecordStatus::Ok);
    FUZZ_CHECK(second->form == record->form);
    FUZZ_CHECK(std::memcmp(&*record, &*second, sizeof *record) == 0);
}

void rawImage(int kind, int mode, const uint8_t* image, size_t size) {
    // Aligned room for the largest record any format maps.
    auto record = std::make_unique<ScanDataWhole>();
    tpl_node* tn = bindKind(kind, record.get());
    FUZZ_CHECK(tn != nullptr);
    if (tpl_load(tn, mode, image, size) == 0) tpl_unpack(tn, 0);
    tpl_release(tn);

    std::free(tpl_peek(TPL_MEMIMAGE, image, size));
    uint32_t count = 0;
    uint32_t* lengths = nullptr;
    std::free(tpl_peek(TPL_MEMIMAGE | TPL_FXLENS, image, size, &count, &lengths));
    std::free(lengths);
    uint8_t first = 0;
    uint16_t second = 0;
    std::free(tpl_peek(TPL_MEMIMAGE | TPL_DATAPEEK, image, size, "cv", {&first, &second}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t selector = data[0];
    auto image = exactCopy(data + 1, size - 1);
    const size_t length = size - 1;
    static constexpr int kKinds[] = {kScanDataWhole,  kScanConfigSingle, kCalibrationRecord,
                                     kScanConfigHead, kScanSectionList,  kScanDataHead,
                                     kScanAdcData};
    switch (selector % 10) {
        case 0:
            configImage(image.get(), length);
            break;
        case 1:
            calibrationImage(image.get(), length);
            break;
        case 2:
            scanDataImage(image.get(), length);
            break;
        default: {
            const int kind = kKinds[selector % 10 - 3];
            const int mode = (selector & 0x80) ? TPL_MEMIMAGE : TPL_MEMIMAGE | TPL_ALLOWEXCESS;
            rawImage(kind, mode, image.get(), length);
            break;
        }
    }
    return 0;
}
