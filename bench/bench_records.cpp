#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "serial/records.h"

namespace quillon {
namespace {

std::vector<uint8_t> wholeScanImage() {
    static ScanDataWhole record{};
    record.headerVersion = 1;
    record.scanType = 0;
    record.numPatterns = 228;
    for (int i = 0; i < kMaxSamples; ++i) record.samples[i] = 1000 + i;
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    encodeScanDataWhole(record, image.data(), image.size(), written);
    return image;
}

std::vector<uint8_t> splitScanImage() {
    static ScanDataSplit record{};
    record.headerVersion = 1;
    record.scanType = 2;
    record.numSections = 2;
    for (int i = 0; i < kMaxSamples; ++i) record.samples[i] = 1000 + i;
    std::vector<uint8_t> image(kScanDataBufferSize);
    size_t written = 0;
    encodeScanDataSplit(record, image.data(), image.size(), written);
    return image;
}

void decodeScan(benchmark::State& state, const std::vector<uint8_t>& image) {
    static ScanDataRecord record;
    for (auto _ : state) {
        RecordStatus rc = decodeScanData(image.data(), image.size(), record);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(record.whole.samples[863]);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}

void BM_DecodeScanDataWhole(benchmark::State& state) {
    decodeScan(state, wholeScanImage());
}
BENCHMARK(BM_DecodeScanDataWhole);

void BM_DecodeScanDataSplit(benchmark::State& state) {
    decodeScan(state, splitScanImage());
}
BENCHMARK(BM_DecodeScanDataSplit);

void BM_SectionedConfigRoundTrip(benchmark::State& state) {
    ScanConfig config{};
    config.scanType = kSectionedScanType;
    std::strcpy(config.configName, "bench");
    config.sectioned.numSections = 5;
    for (int s = 0; s < kMaxSections; ++s)
        config.sectioned.sections[s] = {uint8_t(s % 2), 7, 900, 1700, 100, 1};
    uint8_t image[kSectionedConfigImageSize];
    ScanConfig out{};
    for (auto _ : state) {
        RecordStatus encoded = encodeScanConfig(config, image, sizeof image);
        RecordStatus decoded = decodeScanConfig(image, sizeof image, out);
        benchmark::DoNotOptimize(encoded);
        benchmark::DoNotOptimize(decoded);
        benchmark::DoNotOptimize(out.sectioned.sections[4].numPatterns);
    }
}
BENCHMARK(BM_SectionedConfigRoundTrip);

}  // namespace
}  // namespace quillon
