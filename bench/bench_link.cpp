// Reading a module's 20 stored configurations (the count, then 20
// READ_SCAN_CONFIG exchanges) against the simulated module with no added
// latency, through the HID layer the library loads (the simulator's object):
// host time of the link and the reports that cross it each way.
#include <benchmark/benchmark.h>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "support/sim_link.h"

namespace {

using namespace quillon;

sim::Module& moduleWithTwentyConfigs() {
    sim::bus().reset(1);
    sim::Module& module = sim::bus().module();
    const std::vector<sim::Image> factory = module.state().configImages;
    module.state().configImages.clear();
    for (size_t i = 0; i < kMaxStoredConfigs; ++i) {
        module.state().configImages.push_back(factory[i % factory.size()]);
    }
    module.setRecording(false);
    return module;
}

void BM_ReadTwentyConfigs(benchmark::State& state) {
    sim::Module& module = moduleWithTwentyConfigs();
    link::closeModule(test::testLink());
    if (!link::openModule(test::testLink(), test::simHid(), link::kModuleVendorId,
                          link::kModuleProductId, nullptr)) {
        state.SkipWithError("no module");
        return;
    }
    uint8_t image[512];
    size_t bytes = 0;
    for (auto _ : state) {
        uint8_t count = 0;
        if (link::readScanConfigCount(test::testLink(), count) <= 0)
            state.SkipWithError("count failed");
        for (uint32_t i = 0; i < count; ++i) {
            size_t size = 0;
            if (link::readScanConfig(test::testLink(), i, image, sizeof image, size) <= 0) {
                state.SkipWithError("read failed");
            }
            bytes += size;
        }
        benchmark::DoNotOptimize(image);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["host_to_module_reports"] = static_cast<double>(module.reportsIn()) / iterations;
    state.counters["module_to_host_reports"] =
        static_cast<double>(module.reportsOut()) / iterations;
    state.counters["image_bytes_per_read"] = static_cast<double>(bytes) / iterations;
    link::closeModule(test::testLink());
}
BENCHMARK(BM_ReadTwentyConfigs)->Unit(benchmark::kMicrosecond);

}  // namespace
