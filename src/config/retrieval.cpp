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

Outcome getScanSection(Module& module) {
    if (link::readCalibrationCoefficients(module.link, module.calibration) == link::kLinkNoModule) {
        if (module.printsToConsole) std::printf("cali error\r\n");
        QUILLON_LOG(module, "getScanSection", LOG_ERROR, "Get calibration coefficients fail");
        module.configsComplete = false;
        return failed(Kind::Disconnected, kParamOutError);
    }
    uint8_t count = 0;
    const int counted = link::readScanConfigCount(module.link, count);
    if (counted <= 0 || count == 0) {
        QUILLON_LOG(module, "getScanSection", LOG_ERROR, "Get number of scan configuration fail");
        // A module that stores nothing has nothing a save could erase: it must
        // stay writable (a new module, or one whose save was cut off after
        // the erase, which the host's list then restores).
        module.configsComplete = counted > 0;
        return failed(counted > 0 ? Kind::NoConfiguration : linkKind(counted), kDeviceReturnError);
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kConfigWorkBufferSize]());
    if (!buffer) {
        QUILLON_LOG(module, "getScanSection", LOG_ERROR, "NIR malloc buffer fail");
        module.configsComplete = false;
        return failed(Kind::NoMemory, kNirNoMemory);
    }
    module.scanConfigs.clear();
    // A record that was not read whole is never kept: saving the list later
    // would write it back to the module in place of what it really stores.
    bool complete = true;
    for (unsigned i = 0; i < count; ++i) {
        size_t size = 0;
        if (link::readScanConfig(module.link, i, buffer.get(), kConfigWorkBufferSize, size) <= 0 ||
            size == 0) {
            complete = false;
            break;
        }
        ScanConfig config{};
        if (decodeScanConfig(buffer.get(), size, config) != RecordStatus::Ok) {
            complete = false;
            break;
        }
        module.scanConfigs.push_back(config);
    }
    module.configsComplete = complete;
    buffer.reset();

    uint8_t active = 0;
    int result = link::readActiveScanIndex(module.link, active);
    module.activeScanIndex = static_cast<int8_t>(result > 0 ? active : (result & 0xFF));

    rebuildTargetConfigs(module);
    QUILLON_LOG(module, "getScanSection", LOG_DEBUG, "Get scan section success");
    return succeeded();
}

void rebuildTargetConfigs(Module& module) {
    std::vector<double> widths;
    std::map<int, std::string> types;
    std::vector<double> exposures;
    getWidthPixels(module, widths);
    getScanType(module, types);
    getExposureTimes(module, exposures);

    module.targetConfigs.clear();
    for (const ScanConfig& config : module.scanConfigs) {
        SectionList list = sectionsOf(config);
        std::string name(configNameOf(config));
        for (int s = 0; s < list.count; ++s) {
            const ScanSection& section = list.sections[s];
            if (!sectionInTables(section)) continue;
            module.targetConfigs.emplace(
                name, TargetSection{types[section.sectionScanType], widths[section.widthPixels - 2],
                                    section.wavelengthStartNm, section.wavelengthEndNm,
                                    section.numPatterns, exposures[section.exposureTime]});
        }
    }
}

}  // namespace quillon
