// quillon.h's scan next to the exports' (bench_api.cpp): the same reports on
// the wire and what the host spends besides, and how soon a cancelled scan
// returns to its caller.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/session.h"
#include "quillon.h"
#include "quillonlib.h"
#include "sim/bus.h"
#include "sim/module_clock.h"

namespace {

using namespace quillon;
using Clock = std::chrono::steady_clock;

quillon_module* openFresh(double timeScale) {
    closeSpectrometer();
    destroySession();
    sim::bus().reset(1);
    sim::setTimeScale(timeScale);
    sim::bus().module().setRecording(false);
    quillon_module* module = nullptr;
    quillon_open(nullptr, &module);
    return module;
}

void scanBenchmark(benchmark::State& state, size_t position) {
    quillon_module* module = openFresh(0.0);
    if (module == nullptr) return state.SkipWithError("open failed");
    quillon_lamp_set(module, 1);
    quillon_active_set(module, position);
    size_t points = 0;
    quillon_point_count(module, &points);
    std::vector<double> nm(points);
    std::vector<int32_t> counts(points);
    const sim::Module& sim = sim::bus().module();
    const uint64_t in0 = sim.reportsIn(), out0 = sim.reportsOut();
    for (auto _ : state) {
        size_t got = 0;
        if (quillon_scan(module, nm.data(), counts.data(), points, &got) != QUILLON_OK)
            state.SkipWithError("scan failed");
    }
    const double n = static_cast<double>(state.iterations());
    const double in = static_cast<double>(sim.reportsIn() - in0) / n;
    const double out = static_cast<double>(sim.reportsOut() - out0) / n;
    state.counters["reports_to_module"] = in;
    state.counters["reports_from_module"] = out;
    state.counters["usb_floor_ms"] = in > out ? in : out;
    state.counters["points"] = static_cast<double>(points);
    quillon_close(module);
}

void BM_QuillonScanColumn228(benchmark::State& state) {
    scanBenchmark(state, 0);
}
void BM_QuillonScanHadamard228(benchmark::State& state) {
    scanBenchmark(state, 1);
}
BENCHMARK(BM_QuillonScanColumn228)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QuillonScanHadamard228)->Unit(benchmark::kMicrosecond);

// From quillon_cancel on another thread to quillon_scan's return, at real
// module time (each iteration starts a scan that would take about 2 s; the
// module finishes it while the next iteration waits for it).
void BM_QuillonCancelLatency(benchmark::State& state) {
    quillon_module* module = openFresh(1.0);
    if (module == nullptr) return state.SkipWithError("open failed");
    std::vector<double> nm(864);
    std::vector<int32_t> counts(864);
    double worstMs = 0.0, sumMs = 0.0;
    for (auto _ : state) {
        std::atomic<bool> started{false};
        Clock::time_point returned;
        std::thread scanning([&] {
            size_t got = 0;
            started = true;
            if (quillon_scan(module, nm.data(), counts.data(), nm.size(), &got) !=
                QUILLON_ERR_CANCELLED)
                state.SkipWithError("not cancelled");
            returned = Clock::now();
        });
        while (!started || !sim::bus().module().scanRunning()) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point asked = Clock::now();
        quillon_cancel(module);
        scanning.join();
        const double ms = std::chrono::duration<double, std::milli>(returned - asked).count();
        worstMs = std::max(worstMs, ms);
        sumMs += ms;
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["mean_ms"] = sumMs / static_cast<double>(state.iterations());
    state.counters["worst_ms"] = worstMs;
    quillon_close(module);
}
BENCHMARK(BM_QuillonCancelLatency)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
