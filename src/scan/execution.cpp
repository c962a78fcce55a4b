#include "scan/execution.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/errors.h"
#include "link/commands.h"
#include "link/protocol.h"

namespace quillon {
namespace {

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool scanFailed(SpectrometerSession& session, const char* message) {
    QUILLON_LOG(session, "performScanReadData", LOG_ERROR, message);
    lastErrorCode = kDeviceReturnError;
    return false;
}

bool statusReadFailed(SpectrometerSession& session) {
    std::printf("Reading device status for scan completion failed\n");
    return scanFailed(session, "Reading device status for scan completion failed");
}

}  // namespace

bool performScanReadData(SpectrometerSession& session, uint8_t* image, size_t capacity,
                         uint32_t& length) {
    link::setAverageCount(1);
    // The module scans its own active configuration: make it the session's.
    // Logged as the set-active-index operation logs it; the result is ignored.
    const bool activeSet =
        link::setActiveScanIndexCommand(static_cast<uint8_t>(session.activeScanIndex)) >= 0;
    QUILLON_LOG(session, "setActiveScanIndex", LOG_ERROR,
                activeSet ? "Set active scan index success" : "Set active scan index fail");

    uint32_t estimate = 0;
    int result = link::readEstimatedScanTime(estimate);
    int64_t timeout = result > 0 ? 3 * static_cast<int64_t>(estimate) : 3 * int64_t{result};
    if (timeout > kMaxScanWaitMs) timeout = kMaxScanWaitMs;

    int64_t start = nowMs();
    // A scan the module did not confirm may never have started: the data it
    // then serves is the previous scan's, which must not pass for a new one.
    if (link::startScan() != 0) return scanFailed(session, "Starting the scan failed");

    // A status that could not be read says nothing about the scan: taking it
    // as "finished" would read out a scan that may still be running.
    uint32_t status = 0;
    if (link::readDeviceStatus(status) <= 0) return statusReadFailed(session);
    while (status & kScanRunningBit) {
        if (nowMs() - start >= timeout) {
            length = 0;
            return scanFailed(session, "Wait for scan completion timed out");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kStatusPollMs));
        if (link::readDeviceStatus(status) <= 0) return statusReadFailed(session);
    }

    // Only bytes that arrived in this scan may reach the decoder.
    if (image != nullptr) std::memset(image, 0, capacity);
    uint32_t size = 0;
    result = link::readScanDataSize(size);
    length = result > 0 ? size : static_cast<uint32_t>(result);
    if (result <= 0 || image == nullptr || size > capacity) {
        length = 0;
        return scanFailed(session, "Scan data read from device failed");
    }
    size_t received = 0;
    while (received < size) {
        size_t piece = 0;
        if (link::readScanDataChunk(image + received, capacity - received, piece) <= 0 ||
            piece == 0)
            break;
        received += piece;
    }
    if (received != size) {
        length = static_cast<uint32_t>(received);
        return scanFailed(session, "Scan data read from device failed");
    }
    return true;
}

int setSpectrumAverageTimeOp(SpectrometerSession& session, uint16_t count) {
    link::setAverageCount(count);
    QUILLON_LOG(session, "setSpectrumAverageTime", LOG_DEBUG, "Set spectrum average time success");
    lastErrorCode = kNoError;
    return 0;
}

}  // namespace quillon
