#include "support/library_fixture.h"

#include "config/model.h"
#include "core/errors.h"
#include "quillonlib.h"
#include "sim/module_state.h"

namespace quillon::test {

void LibraryTest::SetUp() {
    closeSpectrometer();
    destroySession();
    SimLinkTest::SetUp();
    lastErrorCode = 0;
}

void LibraryTest::TearDown() {
    closeSpectrometer();
    destroySession();
    SimLinkTest::TearDown();
}

bool LibraryTest::openModule() {
    unsigned count = 0;
    return enumerateDevices(&count) == 0 && openSpectrometer(0) == 0;
}

std::vector<std::string> LibraryTest::storedNames(size_t index) {
    std::vector<std::string> names;
    for (const auto& image : module(index).state().configImages) {
        ScanConfig config{};
        if (!sim::decodeStoredConfig(image, config)) {
            names.push_back("<undecodable>");
            continue;
        }
        names.emplace_back(config.configName, configNameLength(config.configName));
    }
    return names;
}

int LibraryTest::saveColumn(const std::string& name, unsigned short patterns, unsigned short start,
                            unsigned short end) {
    setTgtCfg(name.c_str(), 0, "Column", start, end, 7.03, patterns, 0.635);
    return setTgtCfgs(name.c_str(), 1);
}

std::vector<std::string> LibraryTest::sessionNames() {
    std::vector<std::string> names;
    for (const ScanConfig& c : session().scanConfigs) names.emplace_back(configNameOf(c));
    return names;
}

void LoggingLibraryTest::SetUp() {
    LibraryTest::SetUp();
    scratch_ = std::make_unique<ScratchDir>();
    setLogSwitch(1);
}

void LoggingLibraryTest::TearDown() {
    LibraryTest::TearDown();
    scratch_.reset();
}

size_t LibraryTest::requestsOf(link::CommandCode code, size_t index) {
    size_t n = 0;
    for (const auto& r : module(index).requests())
        n += r.command == code.number && r.group == code.group;
    return n;
}

}  // namespace quillon::test
