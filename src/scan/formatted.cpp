#include "scan/formatted.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "config/model.h"
#include "core/errors.h"
#include "link/commands.h"
#include "scan/execution.h"
#include "scan/hadamard_table_setup.h"
#include "spectrum/hadamard.h"
#include "spectrum/interpret.h"

namespace quillon {
namespace {

void console(const Module& module, const char* text) {
    if (!module.printsToConsole) return;
    std::printf("%s", text);
    std::fflush(stdout);
}

}  // namespace

int64_t activePointCount(const Module& module) {
    if (module.activeScanIndex < 0 ||
        static_cast<size_t>(module.activeScanIndex) >= module.scanConfigs.size())
        return -1;
    SectionList list = sectionsOf(module.scanConfigs[static_cast<size_t>(module.activeScanIndex)]);
    int64_t points = 0;
    for (int s = 0; s < list.count; ++s) points += list.sections[s].numPatterns;
    return points;
}

Outcome getFormattedSpectrumLength(Module& module, unsigned int* length, int64_t& points) {
    points = activePointCount(module);
    if (points < 0) return failedKeeping(Kind::NoConfiguration, kDeviceReturnError);
    if (length != nullptr) *length += static_cast<unsigned int>(points);
    QUILLON_LOG(module, "getFormattedSpectrumLength", LOG_DEBUG, "spectrum pixel num:228");
    return succeeded();
}

Outcome setData(Module& module, const uint8_t* image, size_t size, double* wavelengths,
                int32_t* intensities, uint32_t capacity) {
    if (image == nullptr) return succeededQuietly();
    prepareHadamardTable(module);
    auto results = std::make_unique<ScanResults>();
    // A spectrum of another length than the host sized its arrays for (an
    // inconsistent image, or another configuration scanned) is never delivered.
    SpecStatus interpreted;
    {
        HadamardSetScope table(module.hadamardSet.get());
        interpreted = interpretScanData(image, size, *results);
    }
    if (interpreted != SpecStatus::Ok || results->length < 0 ||
        static_cast<uint32_t>(results->length) != capacity) {
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_DEBUG, "Scan interpret fail");
        return failed(Kind::BadData, kDeviceReturnError);
    }
    std::copy_n(results->wavelengthNm, results->length, wavelengths);
    std::copy_n(results->intensity, results->length, intensities);
    return succeededQuietly();
}

Outcome getFormattedSpectrumOp(Module& module, double* wavelengths, int32_t* intensities,
                               size_t capacity) {
    int64_t points = activePointCount(module);
    if (points < 0 || wavelengths == nullptr || intensities == nullptr) {
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR, "Scan Failed!");
        return failed(points < 0 ? Kind::NoConfiguration : Kind::InvalidArgument,
                      kDeviceReturnError);
    }
    if (static_cast<uint64_t>(points) > capacity) {
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR,
                    "The active configuration has " + std::to_string(points) +
                        " points, more than the arrays hold (" + std::to_string(capacity) + ")");
        return failed(Kind::BufferTooSmall, kParamInError);
    }
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kScanDataBufferSize]);
    if (!image) {
        console(module, "out of memory\n");
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR, "NIR out of memory");
        return failed(Kind::NoMemory, kNirNoMemory);
    }
    if (const Outcome idle = awaitEarlierScan(module); !idle.ok()) return idle;
    link::preScanSetting(module.link);
    uint32_t length = 0;
    if (const Outcome scanned =
            performScanReadData(module, image.get(), kScanDataBufferSize, length);
        !scanned.ok()) {
        if (scanned.kind == Kind::Cancelled) return scanned;
        console(module, "Scan Failed");
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR, "Scan Failed!");
        return scanned;
    }
    if (const Outcome set = setData(module, image.get(), length, wavelengths, intensities,
                                    static_cast<uint32_t>(points));
        !set.ok()) {
        console(module, "scan or reference data interpret failed");
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR,
                    "scan or reference data interpret failed!");
        return set;
    }
    QUILLON_LOG(module, "getFormattedSpectrum", INFO, "Scan success");
    return succeeded();
}

}  // namespace quillon
