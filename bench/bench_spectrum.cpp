#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "serial/records.h"
#include "sim/measurement.h"
#include "spectrum/geometry.h"
#include "spectrum/interpret.h"

namespace quillon {
namespace {

const CalibrationCoefficients kCal = {{1.5, 0.01, -0.00002}, {1760.0, -1.1, 0.0001}};

double smoothSpectrum(const PatternBand& band) {
    const double x = (band.wavelengthNm - 1300.0) / 400.0;
    return 20000.0 * (1.0 - 0.6 * x * x) + 0.5;
}

std::unique_ptr<ScanDataRecord> record624(int type) {
    ScanConfig config{};
    config.scanType = static_cast<uint8_t>(type);
    config.single.wavelengthStartNm = 900;
    config.single.wavelengthEndNm = 1700;
    config.single.widthPixels = 2;
    config.single.numPatterns = 624;
    auto record = std::make_unique<ScanDataRecord>();
    if (synthesizeScanData(config, kCal, smoothSpectrum, 1000.0, 7, *record) != SpecStatus::Ok)
        return nullptr;
    return record;
}

void interpretRecord(benchmark::State& state, int type) {
    auto record = record624(type);
    auto results = std::make_unique<ScanResults>();
    if (!record) {
        state.SkipWithError("record could not be made");
        return;
    }
    for (auto _ : state) {
        const SpecStatus rc = interpretScanRecord(*record, *results);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(results->intensity[0]);
    }
}

// The whole road from the module's image: decode, then interpret.
void interpretImage(benchmark::State& state, int type) {
    auto record = record624(type);
    auto results = std::make_unique<ScanResults>();
    std::vector<uint8_t> image(kScanDataBufferSize, 0);
    size_t written = 0;
    if (!record || encodeScanDataWhole(record->whole, image.data(), image.size(), written) !=
                       RecordStatus::Ok) {
        state.SkipWithError("image could not be made");
        return;
    }
    for (auto _ : state) {
        const SpecStatus rc = interpretScanData(image.data(), image.size(), *results);
        benchmark::DoNotOptimize(rc);
        benchmark::DoNotOptimize(results->intensity[0]);
    }
}

void BM_InterpretImageHadamard624(benchmark::State& state) {
    interpretImage(state, 1);
}
void BM_InterpretImageColumn624(benchmark::State& state) {
    interpretImage(state, 0);
}
void BM_InterpretRecordHadamard624(benchmark::State& state) {
    interpretRecord(state, 1);
}
void BM_InterpretRecordColumn624(benchmark::State& state) {
    interpretRecord(state, 0);
}

void BM_MaxPatterns(benchmark::State& state) {
    const uint32_t type = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(computeMaxPatterns(kCal, 900, 1700, 2, type));
    }
}

BENCHMARK(BM_InterpretImageHadamard624)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpretImageColumn624)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpretRecordHadamard624)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_InterpretRecordColumn624)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaxPatterns)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace quillon
