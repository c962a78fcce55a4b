#include "config/retrieval.h"

#include <cstdio>
#include <memory>
#include <new>

#include "config/model.h"
#include "config/tables.h"
#include "core/errors.h"
#include "link/commands.h"
#include "link/protocol.h"

namespace quillon {

bool getScanSection(SpectrometerSession& session) {
    if (link::readCalibrationCoefficients(session.calibration) == link::kLinkNoModule) {
        std::printf("cali error\r\n");
        QUILLON_LOG(session, "getScanSection", LOG_ERROR, "Get calibration coefficients fail");
        lastErrorCode = kParamOutError;
        session.configsComplete = false;
        return false;
    }
    uint8_t count = 0;
    const int counted = link::readScanConfigCount(count);
    if (counted <= 0 || count == 0) {
        QUILLON_LOG(session, "getScanSection", LOG_ERROR, "Get number of scan configuration fail");
        lastErrorCode = kDeviceReturnError;
        // A module that stores nothing has nothing a save could erase: it must
        // stay writable (a new module, or one whose save was cut off after
        // the erase, which the host's list then restores).
        session.configsComplete = counted > 0;
        return false;
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kConfigWorkBufferSize]());
    if (!buffer) {
        QUILLON_LOG(session, "getScanSection", LOG_ERROR, "NIR malloc buffer fail");
        lastErrorCode = kNirNoMemory;
        session.configsComplete = false;
        return false;
    }
    session.scanConfigs.clear();
    // A record that was not read whole is never kept: saving the list later
    // would write it back to the module in place of what it really stores.
    bool complete = true;
    for (unsigned i = 0; i < count; ++i) {
        size_t size = 0;
        if (link::readScanConfig(i, buffer.get(), kConfigWorkBufferSize, size) <= 0 || size == 0) {
            complete = false;
            break;
        }
        ScanConfig config{};
        if (decodeScanConfig(buffer.get(), size, config) != RecordStatus::Ok) {
            complete = false;
            break;
        }
        session.scanConfigs.push_back(config);
    }
    session.configsComplete = complete;
    buffer.reset();

    uint8_t active = 0;
    int result = link::readActiveScanIndex(active);
    session.activeScanIndex = static_cast<int8_t>(result > 0 ? active : (result & 0xFF));

    rebuildTargetConfigs(session);
    QUILLON_LOG(session, "getScanSection", LOG_DEBUG, "Get scan section success");
    lastErrorCode = kNoError;
    return true;
}

void rebuildTargetConfigs(SpectrometerSession& session) {
    std::vector<double> widths;
    std::map<int, std::string> types;
    std::vector<double> exposures;
    getWidthPixels(session, widths);
    getScanType(session, types);
    getExposureTimes(session, exposures);

    session.targetConfigs.clear();
    for (const ScanConfig& config : session.scanConfigs) {
        SectionList list = sectionsOf(config);
        std::string name(configNameOf(config));
        for (int s = 0; s < list.count; ++s) {
            const ScanSection& section = list.sections[s];
            if (!sectionInTables(section)) continue;
            session.targetConfigs.emplace(
                name, TargetSection{types[section.sectionScanType], widths[section.widthPixels - 2],
                                    section.wavelengthStartNm, section.wavelengthEndNm,
                                    section.numPatterns, exposures[section.exposureTime]});
        }
    }
}

}  // namespace quillon
