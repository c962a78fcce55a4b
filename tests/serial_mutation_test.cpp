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

struct Sample {
    std::vector<uint8_t> image;
    size_t imageSize;  // bytes that make up the valid image(s)
};

std::vector<Sample> validImages() {
    std::vector<Sample> out;
    ScanConfig sectioned{};
    sectioned.scanType = 2;
    std::strcpy(sectioned.configName, "sectioned");
    sectioned.sectioned.numSections = 3;
    ScanConfig single{};
    single.scanType = 0;
    std::strcpy(single.configName, "single");
    for (const ScanConfig& c : {sectioned, single}) {
        size_t size = 0;
        scanConfigImageSize(c, size);
        std::vector<uint8_t> image(size);
        encodeScanConfig(c, image.data(), size);
        out.push_back({image, size});
    }
    CalibrationCoefficients cal{{1, 2, 3}, {4, 5, 6}};
    std::vector<uint8_t> calImage(kCalibrationImageSize);
    encodeCalibration(cal, calImage.data(), calImage.size());
    out.push_back({calImage, kCalibrationImageSize});

    static ScanDataWhole whole{};
    static ScanDataSplit split{};
    whole.headerVersion = split.headerVersion = 1;
    split.scanType = 2;
    for (int i = 0; i < kMaxSamples; ++i) whole.samples[i] = split.samples[i] = i;
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    encodeScanDataWhole(whole, image.data(), image.size(), written);
    out.push_back({image, written});
    encodeScanDataSplit(split, image.data(), image.size(), written);
    out.push_back({image, written});
    return out;
}

// Every decoder on an exactly sized copy; returns the codes.
std::vector<int> decodeAll(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> exact(bytes);  // capacity == size for a fresh copy
    static ScanConfig config;
    static CalibrationCoefficients cal;
    static ScanDataRecord record;
    const uint8_t* p = exact.empty() ? reinterpret_cast<const uint8_t*>(&config) : exact.data();
    return {decodeScanConfig(p, exact.size(), config), decodeCalibration(p, exact.size(), cal),
            decodeScanData(p, exact.size(), record)};
}

TEST(SerialMutation, DamagedImagesAreRefusedSafely) {
    const std::vector<Sample> samples = validImages();
    ASSERT_EQ(samples.size(), 5u);
    for (const Sample& s : samples) {
        std::vector<int> codes =
            decodeAll(std::vector<uint8_t>(s.image.begin(), s.image.begin() + s.imageSize));
        EXPECT_TRUE(codes[0] == 0 || codes[1] == 0 || codes[2] == 0) << "the valid image decodes";
    }

    std::mt19937 rng(20240611);
    testing::internal::CaptureStderr();
    int accepted = 0, refused = 0;
    for (int round = 0; round < 400; ++round) {
        const Sample& s = samples[rng() % samples.size()];
        std::vector<uint8_t> bytes(s.image.begin(), s.image.begin() + s.imageSize);
        bool truncated = false;
        switch (rng() % 4) {
            case 0:  // flip bytes, mostly in the headers where checks live
                for (int k = 1 + rng() % 4; k > 0; --k) {
                    size_t at = rng() % 2 ? rng() % std::min<size_t>(bytes.size(), 64)
                                          : rng() % bytes.size();
                    bytes[at] = uint8_t(rng());
                }
                break;
            case 1:  // cut short
                bytes.resize(rng() % s.imageSize);
                truncated = true;
                break;
            case 2:  // trailing junk
                for (int k = rng() % 300; k > 0; --k) bytes.push_back(uint8_t(rng()));
                break;
            default:  // a length or count field set to something large
                if (bytes.size() > 24) {
                    size_t at = 4 + 4 * (rng() % 5);
                    uint32_t big = rng();
                    std::memcpy(&bytes[at], &big, 4);
                }
                break;
        }
        for (int code : decodeAll(bytes)) {
            EXPECT_TRUE(code == 0 || code == kRecordBufferTooSmall ||
                        code == kRecordSerializationFailed)
                << code;
            code == 0 ? ++accepted : ++refused;
        }
        if (truncated) {
            // No decoder takes an image it only has part of.
            std::vector<int> codes = decodeAll(bytes);
            for (int code : codes) EXPECT_NE(code, 0) << "size " << bytes.size();
        }
    }
    testing::internal::GetCapturedStderr();
    EXPECT_GT(accepted, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace quillon
