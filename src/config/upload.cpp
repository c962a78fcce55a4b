#include "config/upload.h"

#include <memory>
#include <new>

#include "core/errors.h"
#include "link/commands.h"

namespace quillon {

int exportTargetList(SpectrometerSession& session, const std::deque<ScanConfig>& configs,
                     uint8_t activeIndex) {
    // Writing overwrites positions 0..n-1 only: a module that did not confirm
    // the erase may still hold configurations past the new list's end (a
    // removed one among them), so the save is not complete.
    int result = 0;
    if (link::eraseScanConfigs() != 0) {
        QUILLON_LOG(session, "exportTargetList", LOG_ERROR, "Erase scan cfg in EVM error");
        lastErrorCode = kDeviceReturnError;
        result = -1;
    }
    uint8_t position = 0;
    for (const ScanConfig& config : configs) {
        if (result != 0) break;
        size_t size = 0;
        if (scanConfigImageSize(config, size) != RecordStatus::Ok) {
            result = -4;
            break;
        }
        std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size]);
        if (!image) {
            QUILLON_LOG(session, "exportTargetList", LOG_ERROR, "Memory allocation error");
            lastErrorCode = kNirNoMemory;
            return -1;
        }
        if (encodeScanConfig(config, image.get(), size) != RecordStatus::Ok) {
            QUILLON_LOG(session, "exportTargetList", LOG_ERROR, "Write configuration error");
            lastErrorCode = kDeviceReturnError;
            result = -1;
            break;
        }
        if (link::writeScanConfig(position, image.get(), size) != 0) {
            QUILLON_LOG(session, "exportTargetList", LOG_ERROR, "Save scan cfg in EVM error");
            lastErrorCode = kDeviceReturnError;
            result = -1;
            break;
        }
        ++position;
    }
    link::setActiveScanIndexCommand(activeIndex);
    return result;
}

}  // namespace quillon
