#include "config/upload.h"

#include <memory>
#include <new>

#include "api/errors.h"
#include "link/commands.h"

namespace quillon {

int exportTargetList(SpectrometerSession& session, const std::deque<ScanConfig>& configs,
                     uint8_t activeIndex) {
    link::eraseScanConfigs();
    int result = 0;
    uint8_t position = 0;
    for (const ScanConfig& config : configs) {
        size_t size = 0;
        if (scanConfigImageSize(config, size) != kRecordOk) {
            result = -4;
            break;
        }
        std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[size]);
        if (!image) {
            QUILLON_LOG(session, "exportTargetList", LOG_ERROR, "Memory allocation error");
            lastErrorCode = kNirNoMemory;
            return -1;
        }
        if (encodeScanConfig(config, image.get(), size) != kRecordOk) {
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
