// The publisher's modules through the library's exports: one module at a
// time, in the library's one session.
#include <atomic>

#include "instrument.h"
#include "library_console.h"
#include "quillonlib.h"
#include "scan_runner.h"
#include "stored_configs.h"

namespace quillon::cli::publish {
namespace {

// Listing again would reset the library's one session under the open module.
std::vector<AttachedModule> listed;
bool moduleOpen = false;

class LibraryInstrument final : public Instrument {
  public:
    explicit LibraryInstrument(std::string serial) : serial_(std::move(serial)) {}
    ~LibraryInstrument() override {
        closeSpectrometer();
        moduleOpen = false;
    }

    const std::string& serial() const override { return serial_; }

    bool read(ModuleFacts& facts, std::string& why) override {
        ScanSeries header;
        unsigned points = 0;
        describeModule(header, points, why);
        facts.versions = header.versions;
        if (header.position) facts.activePosition = static_cast<size_t>(*header.position);
        if (header.configuration) facts.activeName = header.configuration->name;
        facts.configurations = nlohmann::ordered_json::array();
        for (const ConfigView& config : readConfigurations()) {
            nlohmann::ordered_json sections = nlohmann::ordered_json::array();
            for (const SectionView& s : config.sections)
                sections.push_back({{"type", s.type},
                                    {"start_nm", s.startNm},
                                    {"end_nm", s.endNm},
                                    {"width", s.width},
                                    {"patterns", s.patterns},
                                    {"exposure", s.exposure}});
            facts.configurations.push_back({{"position", nullptr},
                                            {"name", config.name},
                                            {"points", config.points()},
                                            {"sections", sections}});
        }
        LibraryConsole::relay();
        return true;
    }

    bool activate(size_t position, std::string& why) override {
        return check(setActiveScanIndex(static_cast<unsigned char>(position)), "activate", why);
    }

    void cancel() override {}
    bool gone() const override { return false; }

  private:
    static bool check(int result, const char* what, std::string& why) {
        if (result == 0) return true;
        why = std::string(what) + ": " + getLastException();
        return false;
    }

    std::string serial_;
};

}  // namespace

bool listModules(std::vector<AttachedModule>& modules, std::string& why) {
    unsigned count = 0;
    modules.clear();
    if (moduleOpen) {
        modules = listed;
        return true;
    }
    if (enumerateDevices(&count) != 0) {
        why = getLastException();
        return false;
    }
    for (unsigned i = 0; i < count; ++i)
        modules.push_back({std::to_string(i), "module" + std::to_string(i)});
    listed = modules;
    return true;
}

std::unique_ptr<Instrument> openInstrument(const AttachedModule& module, std::string& why) {
    if (moduleOpen) {
        why = "the library serves one module at a time";
        return nullptr;
    }
    if (openSpectrometer(std::stoi(module.path)) != 0) {
        why = getLastException();
        closeSpectrometer();
        return nullptr;
    }
    moduleOpen = true;
    return std::make_unique<LibraryInstrument>(module.serial);
}

}  // namespace quillon::cli::publish
