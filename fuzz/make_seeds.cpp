// Writes the seed corpora of the fuzz targets from what the simulated module
// really sends: record images it stores and measures, and recorded
// conversations of the link and of opening (some of them with faults), in the
// stream format the link and opening targets play back.
//
//   quillon_fuzz_seeds <corpus directory>   (creates one folder per target)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "config/save_journal.h"
#include "link/command_codes.h"
#include "link/protocol.h"
#include "reply_stream.h"
#include "scenarios.h"
#include "serial/records.h"
#include "sim/bus.h"
#include "sim/module_clock.h"
#include "sim/module_state.h"
#include "sim/scan_producer.h"

using namespace quillon;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

fs::path g_root;
size_t g_written = 0;

void write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    g_written += bytes.size();
}

Bytes prefixed(uint8_t selector, const Bytes& image) {
    Bytes out(image.size() + 1, selector);
    std::copy(image.begin(), image.end(), out.begin() + 1);
    return out;
}

Bytes calibrationImage(const CalibrationCoefficients& cal) {
    Bytes image(kCalibrationImageSize);
    encodeCalibration(cal, image.data(), image.size());
    return image;
}

// The scan data image the module makes for each of its factory configurations.
std::vector<Bytes> scanImages(const sim::ModuleState& state) {
    std::vector<Bytes> images;
    const sim::ScanProducer produce = sim::defaultScanProducer();
    for (const sim::Image& stored : state.configImages) {
        sim::ScanContext context{};
        if (!sim::decodeStoredConfig(stored, context.config)) continue;
        context.calibration = state.calibration;
        context.averageCount = 1;
        context.lampOn = true;
        context.scanNumber = 1;
        images.push_back(produce(context));
    }
    return images;
}

void recordSeeds(const sim::ModuleState& state) {
    for (size_t i = 0; i < state.configImages.size(); ++i)
        write("fuzz_records", "config-" + std::to_string(i), prefixed(0, state.configImages[i]));
    const Bytes cal = calibrationImage(state.calibration);
    write("fuzz_records", "calibration", prefixed(1, cal));
    const std::vector<Bytes> scans = scanImages(state);
    for (size_t i = 0; i < scans.size(); ++i)
        write("fuzz_records", "scan-" + std::to_string(i), prefixed(2, scans[i]));

    // Each record kind alone, cut from the images above, for the raw load and unpack.
    const Bytes& whole = scans.at(0);
    const Bytes& split = scans.at(1);
    const Bytes& single = state.configImages.at(0);
    const Bytes& sectioned = state.configImages.at(1);
    auto cut = [](const Bytes& from, size_t at, size_t length) {
        return Bytes(from.begin() + static_cast<long>(at),
                     from.begin() + static_cast<long>(at + length));
    };
    write("fuzz_records", "kind-0", prefixed(3, whole));
    write("fuzz_records", "kind-1", prefixed(4, single));
    write("fuzz_records", "kind-2", prefixed(5, cal));
    write("fuzz_records", "kind-4", prefixed(6, cut(sectioned, 0, kScanConfigHeadImageSize)));
    write("fuzz_records", "kind-5",
          prefixed(7, cut(sectioned, kScanConfigHeadImageSize, kScanSectionListImageSize)));
    write("fuzz_records", "kind-6", prefixed(8, cut(split, 0, kScanDataHeadImageSize)));
    write("fuzz_records", "kind-7",
          prefixed(9, cut(split, split.size() - kScanAdcDataImageSize, kScanAdcDataImageSize)));

    for (size_t i = 0; i < scans.size(); ++i)
        write("fuzz_interpret", "scan-" + std::to_string(i), scans[i]);
}

using Prepare = std::function<void(sim::Module&)>;

// Runs `conversation` against a fresh simulated module whose time runs at
// once, through the recorder, and writes what it recorded as a seed.
void recordSeed(const std::string& target, const std::string& name, const Prepare& prepare,
                const std::function<void()>& conversation) {
    sim::bus().reset(1);
    sim::setTimeScale(0.0);
    // The simulator's hidapi functions, which this program links.
    static const link::HidLayer simulator{hid_init,         hid_enumerate, hid_free_enumeration,
                                          hid_open,         hid_open_path, hid_write,
                                          hid_read_timeout, hid_close};
    fuzz::startRecording(simulator);
    if (prepare) prepare(sim::bus().module(0));
    conversation();
    write(target, name, fuzz::takeRecording());
}

void linkSeed(const std::string& name, std::initializer_list<uint8_t> selectors,
              const Prepare& prepare = {}) {
    const std::vector<uint8_t> steps(selectors);
    recordSeed("fuzz_link", name, prepare, [&] {
        link::openModule(fuzz::fuzzLink(), fuzz::recordingLayer(), link::kModuleVendorId,
                         link::kModuleProductId, nullptr);
        for (uint8_t selector : steps) fuzz::runLinkStep(fuzz::record(selector));
        link::closeModule(fuzz::fuzzLink());
    });
}

void openSeed(const std::string& name, const Prepare& prepare = {}) {
    recordSeed("fuzz_open", name, prepare, [] { fuzz::runOpenScenario(fuzz::recordingLayer()); });
}

void linkSeeds() {
    for (int s = 0; s < fuzz::kLinkStepCount; ++s) {
        const auto step = static_cast<uint8_t>(s);
        // Size and pieces only exist after a scan.
        if (s >= 15) {
            linkSeed(fuzz::kLinkSteps[s].name, {13, step, 16, 16});
        } else {
            linkSeed(fuzz::kLinkSteps[s].name, {step});
        }
    }
    linkSeed("everything", {0,  1,  2,  3,  4,  5,  6,  7,  8,  8 + 17, 9,  10,
                            11, 12, 13, 14, 15, 16, 16, 16, 16, 16,     16, 16});
    linkSeed("late-reply", {0, 0, 1},
             [](sim::Module& m) { m.injectFault(sim::Fault::LateReply, link::kReadVersions); });
    linkSeed("oversized", {6, 0}, [](sim::Module& m) {
        m.injectFault(sim::Fault::OversizedLength, link::kReadCalibrationCoefficients, 1, 900);
    });
    linkSeed("truncated", {8, 0}, [](sim::Module& m) {
        m.injectFault(sim::Fault::TruncatedRead, link::kReadScanConfig, 1, 40);
    });
    linkSeed("unplugged", {0, 1},
             [](sim::Module& m) { m.injectFault(sim::Fault::Unplug, link::kReadVersions, 1, 2); });
}

void openSeeds() {
    openSeed("factory");
    openSeed("twelve-configs", [](sim::Module& m) {
        auto& images = m.state().configImages;
        while (images.size() < 12) images.push_back(images[images.size() % 3]);
    });
    openSeed("config-lost", [](sim::Module& m) {
        m.injectFault(sim::Fault::NoReply, link::kReadScanConfig, 1, 0, 1);
    });
    openSeed("save-refused", [](sim::Module& m) {
        m.injectFault(sim::Fault::WriteStatus, link::kWriteScanConfig, 1, 1, 2);
    });
    openSeed("late-calibration", [](sim::Module& m) {
        m.injectFault(sim::Fault::LateReply, link::kReadCalibrationCoefficients);
    });
}

}  // namespace

// Journals of a removal, of a first save onto an empty module, and one cut short.
void journalSeeds(const sim::ModuleState& state) {
    SaveJournal journal;
    journal.module.serialNumber = "QSIM0001";
    std::copy(std::begin(state.versions), std::end(state.versions), journal.module.versions);
    journal.module.path = "sim:/tmp/quillon-state";
    journal.before = state.configImages;
    journal.beforeActive = 2;
    journal.intended = {state.configImages[0], state.configImages[2]};
    journal.intendedActive = 1;
    const Bytes removal = encodeSaveJournal(journal);
    write("fuzz_journal", "removal", removal);
    write("fuzz_journal", "cut", Bytes(removal.begin(), removal.begin() + removal.size() / 2));
    journal.before.clear();
    journal.module.serialNumber.clear();
    write("fuzz_journal", "first_save", encodeSaveJournal(journal));
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    recordSeeds(sim::factoryState());
    linkSeeds();
    openSeeds();
    journalSeeds(sim::factoryState());
    std::printf("wrote %zu bytes of seeds under %s\n", g_written, argv[1]);
    return 0;
}
