// Whole operations through the exports against the simulated module with
// module time set to zero: what the library costs the host next to the
// reports it must move. The USB full-speed floor for comparison is one
// 64-byte report per millisecond in each direction.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "core/session.h"
#include "quillonlib.h"
#include "sim/bus.h"
#include "sim/module_clock.h"

namespace {

using namespace quillon;

sim::Module& freshModule(size_t configs) {
    closeSpectrometer();
    destroySession();
    sim::bus().reset(1);
    sim::setTimeScale(0.0);
    sim::Module& module = sim::bus().module();
    const std::vector<sim::Image> factory = module.state().configImages;
    module.state().configImages.clear();
    for (size_t i = 0; i < configs; ++i) module.state().configImages.push_back(factory[i % 3]);
    module.setRecording(false);
    return module;
}

void reportCounters(benchmark::State& state, const sim::Module& module, uint64_t in0,
                    uint64_t out0) {
    const double n = static_cast<double>(state.iterations());
    const double in = static_cast<double>(module.reportsIn() - in0) / n;
    const double out = static_cast<double>(module.reportsOut() - out0) / n;
    state.counters["reports_to_module"] = in;
    state.counters["reports_from_module"] = out;
    state.counters["usb_floor_ms"] = in > out ? in : out;
}

void BM_OpenModuleWithTwentyConfigs(benchmark::State& state) {
    sim::Module& module = freshModule(20);
    unsigned count = 0;
    enumerateDevices(&count);
    const uint64_t in0 = module.reportsIn(), out0 = module.reportsOut();
    for (auto _ : state) {
        if (openSpectrometer(0) != 0) state.SkipWithError("open failed");
        state.PauseTiming();
        closeSpectrometer();
        state.ResumeTiming();
    }
    reportCounters(state, module, in0, out0);
}
BENCHMARK(BM_OpenModuleWithTwentyConfigs);

void BM_CommitOneOfTwentyConfigs(benchmark::State& state) {
    sim::Module& module = freshModule(19);
    unsigned count = 0;
    enumerateDevices(&count);
    openSpectrometer(0);
    setTgtCfg("Twentieth", 0, "Column", 900, 1700, 7.03, 100, 0.635);
    const uint64_t in0 = module.reportsIn(), out0 = module.reportsOut();
    for (auto _ : state) {
        if (setTgtCfgs("Twentieth", 1) != 0) state.SkipWithError("commit failed");
    }
    reportCounters(state, module, in0, out0);
    closeSpectrometer();
}
BENCHMARK(BM_CommitOneOfTwentyConfigs);

void scanBenchmark(benchmark::State& state, int activeIndex) {
    sim::Module& module = freshModule(3);
    unsigned count = 0;
    enumerateDevices(&count);
    openSpectrometer(0);
    setLampStatus(1);
    setActiveScanIndex(static_cast<unsigned char>(activeIndex));
    unsigned length = 0;
    getFormattedSpectrumLengths(&length);
    std::vector<double> nm(length);
    std::vector<int> counts(length);
    const uint64_t in0 = module.reportsIn(), out0 = module.reportsOut();
    for (auto _ : state) {
        if (getFormattedSpectrum(nm.data(), counts.data()) != 0) state.SkipWithError("scan failed");
    }
    reportCounters(state, module, in0, out0);
    state.counters["points"] = length;
    closeSpectrometer();
}

void BM_ScanColumn228(benchmark::State& state) {
    scanBenchmark(state, 0);
}
void BM_ScanHadamard228(benchmark::State& state) {
    scanBenchmark(state, 1);
}
BENCHMARK(BM_ScanColumn228)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScanHadamard228)->Unit(benchmark::kMicrosecond);

}  // namespace
