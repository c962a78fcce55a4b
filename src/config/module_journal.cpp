#include "config/module_journal.h"

#include <algorithm>

#include "config/journal_place.h"
#include "config/save_recovery.h"
#include "link/commands.h"

namespace quillon {
namespace {

// The version words go into every journal and are compared at open; read
// once per opening, when first needed.
bool knowVersions(Module& module) {
    if (module.journal.versionsKnown) return true;
    uint32_t words[7];
    if (link::readVersions(module.link, words) <= 0) return false;
    std::copy(std::begin(words), std::end(words), module.journal.module.versions);
    module.journal.versionsKnown = true;
    return true;
}

bool readStored(Module& module, std::vector<ConfigImage>& stored, uint8_t& active) {
    uint8_t count = 0;
    if (link::readScanConfigCount(module.link, count) <= 0) return false;
    ConfigImage buffer(link::kMaxWrittenConfigImage + 64);
    for (unsigned i = 0; i < count; ++i) {
        size_t size = 0;
        if (link::readScanConfig(module.link, i, buffer.data(), buffer.size(), size) <= 0 ||
            size == 0)
            return false;
        stored.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    }
    return link::readActiveScanIndex(module.link, active) > 0;
}

}  // namespace

void recoverSaveAtOpen(Module& module) {
    module.journal = journalTargetFor(module.serialNumber, module.path);
    module.recovery = {};
    if (module.journal.file.empty()) return;
    RecoveryAccess access;
    access.identify = [&](ModuleIdentity& here) {
        if (!knowVersions(module)) return false;
        here = module.journal.module;
        return true;
    };
    access.readStored = [&](std::vector<ConfigImage>& stored, uint8_t& active) {
        return readStored(module, stored, active);
    };
    access.write = [&](uint8_t position, const ConfigImage& image) {
        return link::writeScanConfig(module.link, position, image.data(), image.size()) == 0;
    };
    access.setActive = [&](uint8_t position) {
        return link::setActiveScanIndexCommand(module.link, position) >= 0;
    };
    access.log = [&](LogLevel level, const std::string& message) {
        QUILLON_LOG(module, "recoverSave", level, message);
    };
    module.recovery = recoverInterruptedSave(module.journal.file, access);
}

JournaledSave journalSave(Module& module, const std::deque<ScanConfig>& intended,
                          uint8_t intendedActive) {
    JournalTarget target = module.journal;
    if (!knowVersions(module)) target.file.clear();
    target.module = module.journal.module;
    JournaledSave journal(target, intended, intendedActive, module.scanConfigs,
                          static_cast<uint8_t>(module.activeScanIndex));
    if (!journal.journaled())
        QUILLON_LOG(module, "exportTargetList", LOG_ERROR,
                    "Save journal not written" +
                        (target.file.empty() ? std::string() : ": " + target.file));
    return journal;
}

}  // namespace quillon
