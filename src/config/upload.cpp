#include "config/upload.h"

#include <memory>
#include <new>

#include "config/module_journal.h"
#include "core/errors.h"
#include "link/commands.h"

namespace quillon {
namespace {

// The kind of a write command's result that is not 0: a link failure, or a
// status word by which the module refused.
Kind writeKind(int result) {
    return result < 0 ? linkKind(result) : Kind::Refused;
}

}  // namespace

Outcome exportTargetList(Module& module, const std::deque<ScanConfig>& configs,
                         uint8_t activeIndex) {
    // Writing overwrites positions 0..n-1 only: a module that did not confirm
    // the erase may still hold configurations past the new list's end (a
    // removed one among them), so the save is not complete.
    JournaledSave journal = journalSave(module, configs, activeIndex);
    Outcome outcome = succeeded();
    if (const int erased = link::eraseScanConfigs(module.link); erased != 0) {
        QUILLON_LOG(module, "exportTargetList", LOG_ERROR, "Erase scan cfg in EVM error");
        outcome = failed(writeKind(erased), kDeviceReturnError);
    }
    uint8_t position = 0;
    for (const ScanConfig& config : configs) {
        if (!outcome.ok()) break;
        size_t size = 0;
        if (scanConfigImageSize(config, size) != RecordStatus::Ok) {
            outcome = failed(Kind::BadData, kDeviceReturnError);
            break;
        }
        std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size]);
        if (!image) {
            QUILLON_LOG(module, "exportTargetList", LOG_ERROR, "Memory allocation error");
            return failed(Kind::NoMemory, kNirNoMemory);
        }
        if (encodeScanConfig(config, image.get(), size) != RecordStatus::Ok) {
            QUILLON_LOG(module, "exportTargetList", LOG_ERROR, "Write configuration error");
            outcome = failed(Kind::BadData, kDeviceReturnError);
            break;
        }
        if (const int written = link::writeScanConfig(module.link, position, image.get(), size);
            written != 0) {
            QUILLON_LOG(module, "exportTargetList", LOG_ERROR, "Save scan cfg in EVM error");
            outcome = failed(writeKind(written), kDeviceReturnError);
            break;
        }
        ++position;
    }
    link::setActiveScanIndexCommand(module.link, activeIndex);
    if (outcome.ok()) journal.complete();
    return outcome;
}

}  // namespace quillon
