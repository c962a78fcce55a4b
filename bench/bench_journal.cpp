// What the save journal adds to a save: encoding both lists, writing the file
// durably (data synced, renamed, folder synced) in the folder the library
// uses, and removing it. Next to it, the USB full-speed floor of the save
// itself: ERASE_SCAN_CONFIGS, one three-report WRITE_SCAN_CONFIG per
// configuration and SET_ACTIVE_SCAN_INDEX, one report per millisecond.
#include <benchmark/benchmark.h>

#include <deque>

#include "config/journal_place.h"
#include "config/journaled_save.h"
#include "serial/records.h"
#include "sim/module_state.h"

namespace {

using namespace quillon;

std::deque<ScanConfig> factoryList(size_t count) {
    const sim::ModuleState factory = sim::factoryState();
    std::deque<ScanConfig> list;
    for (size_t i = 0; i < count; ++i) {
        ScanConfig config{};
        const sim::Image& image = factory.configImages[i % factory.configImages.size()];
        decodeScanConfig(image.data(), image.size(), config);
        list.push_back(config);
    }
    return list;
}

void BM_JournalOfOneSave(benchmark::State& state) {
    const auto count = static_cast<size_t>(state.range(0));
    const std::deque<ScanConfig> before = factoryList(count);
    std::deque<ScanConfig> intended = before;
    intended.pop_back();
    const JournalTarget target = journalTargetFor(L"BENCH0001", "bench:journal");
    if (target.file.empty()) state.SkipWithError("no journal folder");
    for (auto _ : state) {
        JournaledSave journal(target, intended, 0, before, 0);
        if (!journal.journaled()) state.SkipWithError("journal not written");
        journal.complete();
    }
    // Reports of the save the journal protects: erase, three per configuration, set active.
    state.counters["usb_floor_ms"] = static_cast<double>(2 + 3 * intended.size());
}
BENCHMARK(BM_JournalOfOneSave)->Arg(2)->Arg(6)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace
