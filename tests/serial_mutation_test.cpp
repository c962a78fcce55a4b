// Damaged images must be refused or decoded, never read or written out of
// bounds. Each image is handed over in a heap block of exactly its size so the
// address sanitizer sees any read past the end.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "serial/records.h"

namespace quillon {
namespace {

std::vector<std::vector<uint8_t>> validImages() {
    std::vector<std::vector<uint8_t>> out;
    ScanConfig sectioned{}, single{};
    sectioned.scanType = 2;
    sectioned.sectioned.numSections = 3;
    for (const ScanConfig& c : {sectioned, single}) {
        size_t size = 0;
        scanConfigImageSize(c, size);
        encodeScanConfig(c, out.emplace_back(size).data(), size);
    }
    CalibrationCoefficients cal{{1, 2, 3}, {4, 5, 6}};
    encodeCalibration(cal, out.emplace_back(kCalibrationImageSize).data(), kCalibrationImageSize);
    static ScanDataWhole whole{};
    static ScanDataSplit split{};
    whole.headerVersion = split.headerVersion = 1;
    split.scanType = 2;
    for (int i = 0; i < kMaxSamples; ++i) whole.samples[i] = split.samples[i] = i;
    size_t written = 0;
    auto& w = out.emplace_back(kScanDataBufferSize);
    encodeScanDataWhole(whole, w.data(), w.size(), written);
    w.resize(written);
    auto& s = out.emplace_back(kScanDataBufferSize);
    encodeScanDataSplit(split, s.data(), s.size(), written);
    s.resize(written);
    return out;
}

// Every decoder on an exactly sized copy: how many took it.
int decodeAll(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> exact(bytes);  // capacity == size for a fresh copy
    static ScanConfig config;
    static CalibrationCoefficients cal;
    static ScanDataRecord record;
    const uint8_t* p = exact.empty() ? reinterpret_cast<const uint8_t*>(&config) : exact.data();
    int accepted = 0;
    for (int code :
         {decodeScanConfig(p, exact.size(), config), decodeCalibration(p, exact.size(), cal),
          decodeScanData(p, exact.size(), record)}) {
        EXPECT_TRUE(code == 0 || code == kRecordBufferTooSmall ||
                    code == kRecordSerializationFailed)
            << code;
        accepted += code == 0;
    }
    return accepted;
}

TEST(SerialMutation, DamagedImagesAreRefusedSafely) {
    const auto images = validImages();
    for (const auto& image : images) EXPECT_GT(decodeAll(image), 0) << "the valid image decodes";
    std::mt19937 rng(20240611);
    testing::internal::CaptureStderr();
    int accepted = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = images[rng() % images.size()];
        const size_t size = bytes.size();
        switch (rng() % 4) {
            case 0:  // flip bytes, mostly in the headers where checks live
                for (int k = 1 + rng() % 4; k > 0; --k)
                    bytes[rng() % 2 ? rng() % std::min<size_t>(size, 64) : rng() % size] =
                        uint8_t(rng());
                break;
            case 1:  // cut short: no decoder takes an image it only has part of
                bytes.resize(rng() % size);
                EXPECT_EQ(decodeAll(bytes), 0) << "size " << bytes.size();
                break;
            case 2:  // trailing junk
                for (int k = rng() % 300; k > 0; --k) bytes.push_back(uint8_t(rng()));
                break;
            default: {  // a length or count field set to something large
                const uint32_t big = rng();
                std::memcpy(&bytes[4 + 4 * (rng() % 5)], &big, 4);
            }
        }
        decodeAll(bytes) > 0 ? ++accepted : ++refused;
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace quillon
