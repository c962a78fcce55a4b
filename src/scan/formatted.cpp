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
#include "spectrum/interpret.h"

namespace quillon {
namespace {

// Points of the active configuration, or -1 when no stored configuration is active.
int64_t activePointCount(const SpectrometerSession& session) {
    if (session.activeScanIndex < 0 ||
        static_cast<size_t>(session.activeScanIndex) >= session.scanConfigs.size())
        return -1;
    SectionList list =
        sectionsOf(session.scanConfigs[static_cast<size_t>(session.activeScanIndex)]);
    int64_t points = 0;
    for (int s = 0; s < list.count; ++s) points += list.sections[s].numPatterns;
    return points;
}

}  // namespace

int getFormattedSpectrumLength(SpectrometerSession& session, unsigned int* length) {
    int64_t points = activePointCount(session);
    if (points < 0) return -1;
    if (length != nullptr) *length += static_cast<unsigned int>(points);
    QUILLON_LOG(session, "getFormattedSpectrumLength", LOG_DEBUG, "spectrum pixel num:228");
    lastErrorCode = kNoError;
    return 0;
}

int setData(SpectrometerSession& session, const uint8_t* image, size_t size, double* wavelengths,
            int32_t* intensities, uint32_t capacity) {
    if (image == nullptr) return 0;
    prepareHadamardTable(session);
    auto results = std::make_unique<ScanResults>();
    // A spectrum of another length than the host sized its arrays for (an
    // inconsistent image, or another configuration scanned) is never delivered.
    if (interpretScanData(image, size, *results) != SpecStatus::Ok || results->length < 0 ||
        static_cast<uint32_t>(results->length) != capacity) {
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_DEBUG, "Scan interpret fail");
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    std::copy_n(results->wavelengthNm, results->length, wavelengths);
    std::copy_n(results->intensity, results->length, intensities);
    return 0;
}

int getFormattedSpectrumOp(SpectrometerSession& session, double* wavelengths,
                           int32_t* intensities) {
    int64_t points = activePointCount(session);
    if (points < 0 || wavelengths == nullptr || intensities == nullptr) {
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR, "Scan Failed!");
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kScanDataBufferSize]);
    if (!image) {
        std::printf("out of memory\n");
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR, "NIR out of memory");
        lastErrorCode = kNirNoMemory;
        return -1;
    }
    link::preScanSetting();
    uint32_t length = 0;
    if (!performScanReadData(session, image.get(), kScanDataBufferSize, length)) {
        std::printf("Scan Failed");
        std::fflush(stdout);
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR, "Scan Failed!");
        return -1;
    }
    if (setData(session, image.get(), length, wavelengths, intensities,
                static_cast<uint32_t>(points)) != 0) {
        std::printf("scan or reference data interpret failed");
        std::fflush(stdout);
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR,
                    "scan or reference data interpret failed!");
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    QUILLON_LOG(session, "getFormattedSpectrum", INFO, "Scan success");
    lastErrorCode = kNoError;
    return 0;
}

}  // namespace quillon
