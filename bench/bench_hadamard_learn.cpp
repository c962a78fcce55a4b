// Host time of `quillon hadamard learn` per order, the module's scans aside:
// finding where a group of p patterns fits (library computations through
// getMaxPattern, no module traffic) and matching the decoded values to the
// Column ones for two configurations.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "hadamard_matching.h"
#include "hadamard_probe.h"
#include "quillonlib.h"

namespace {

using namespace quillon::cli;

void openModule(benchmark::State& state) {
    unsigned count = 0;
    closeSpectrometer();
    if (enumerateDevices(&count) != 0 || openSpectrometer(0) != 0)
        state.SkipWithError("no simulated module");
}

void BM_LearnWindows(benchmark::State& state) {
    openModule(state);
    const int order = static_cast<int>(state.range(0));
    size_t windows = 0;
    for (auto _ : state) {
        std::string why;
        windows = windowsForOrder(order, why).size();
    }
    state.counters["windows"] = static_cast<double>(windows);
}

// Readings like a module's: a rising curve with a ripple over the group's
// patterns, a scrambled copy as decoded, and detector noise on both.
GroupObservation observation(int order, const std::vector<int>& sigma, double shift,
                             std::mt19937& random) {
    std::normal_distribution<double> noise(0.0, 2.0);
    GroupObservation o;
    o.column.resize(static_cast<size_t>(order));
    o.decoded.resize(static_cast<size_t>(order));
    for (int k = 0; k < order; ++k) {
        o.column[static_cast<size_t>(k)] =
            1000.0 + 40.0 * k + 150.0 * std::sin(0.07 * k + shift) + noise(random);
    }
    for (int j = 0; j < order; ++j)
        o.decoded[static_cast<size_t>(j)] =
            o.column[static_cast<size_t>(sigma[static_cast<size_t>(j)])] + noise(random);
    o.tolerance = 5.0 * 2.0 * std::sqrt(2.0) + 1.0;
    return o;
}

void BM_LearnMatching(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0));
    std::mt19937 random(7);
    std::vector<int> sigma(static_cast<size_t>(order));
    for (int j = 0; j < order; ++j) sigma[static_cast<size_t>(j)] = j;
    std::shuffle(sigma.begin(), sigma.end(), random);
    const GroupObservation first = observation(order, sigma, 0.0, random);
    const GroupObservation second = observation(order, sigma, 2.0, random);
    std::vector<int> library(sigma.rbegin(), sigma.rend());
    for (auto _ : state) {
        GroupMatcher matcher(order);
        matcher.add(first);
        matcher.add(second);
        if (matcher.solve() != GroupMatcher::Outcome::Unique || matcher.sigma() != sigma)
            state.SkipWithError("not matched");
        benchmark::DoNotOptimize(modulePermutation(library, matcher.sigma()));
        benchmark::DoNotOptimize(matcher.rmsResidual());
    }
}

}  // namespace

BENCHMARK(BM_LearnWindows)->Arg(19)->Arg(67)->Arg(131)->Arg(191)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LearnMatching)->Arg(19)->Arg(67)->Arg(131)->Arg(191)->Unit(benchmark::kMillisecond);
