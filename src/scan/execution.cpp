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

Outcome scanFailed(Module& module, const char* message, Kind kind = Kind::Disconnected) {
    QUILLON_LOG(module, "performScanReadData", LOG_ERROR, message);
    return failed(kind, kDeviceReturnError);
}

Outcome statusReadFailed(Module& module, int result) {
    if (module.printsToConsole) std::printf("Reading device status for scan completion failed\n");
    return scanFailed(module, "Reading device status for scan completion failed", linkKind(result));
}

bool cancelAsked(const Module& module) {
    return module.cancelRequested.load(std::memory_order_relaxed);
}

// Sleeps `ms`, looking at the cancel flag in between; false when it was set.
bool pause(const Module& module, int ms) {
    const int64_t until = nowMs() + ms;
    for (int64_t now = nowMs(); now < until; now = nowMs()) {
        if (cancelAsked(module)) return false;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min<int64_t>(kCancelCheckMs, until - now)));
    }
    return !cancelAsked(module);
}

Outcome cancelled(Module& module) {
    module.scanMayRun = true;
    QUILLON_LOG(module, "performScanReadData", INFO, "Scan cancelled");
    return failed(Kind::Cancelled, kInterrupted);
}

}  // namespace

Outcome awaitEarlierScan(Module& module) {
    if (!module.scanMayRun) return succeeded();
    const int64_t start = nowMs();
    for (;;) {
        uint32_t status = 0;
        const int read = link::readDeviceStatus(module.link, status);
        if (read <= 0) return statusReadFailed(module, read);
        if ((status & kScanRunningBit) == 0) break;
        if (nowMs() - start >= kMaxScanWaitMs)
            return scanFailed(module, "Wait for scan completion timed out", Kind::Timeout);
        if (!pause(module, kStatusPollMs)) return cancelled(module);
    }
    module.scanMayRun = false;
    return succeeded();
}

Outcome performScanReadData(Module& module, uint8_t* image, size_t capacity, uint32_t& length) {
    link::setAverageCount(module.link, 1);
    // The module scans its own active configuration: make it the module's.
    // Logged as the set-active-index operation logs it; the result is ignored.
    const bool activeSet = link::setActiveScanIndexCommand(
                               module.link, static_cast<uint8_t>(module.activeScanIndex)) >= 0;
    QUILLON_LOG(module, "setActiveScanIndex", LOG_ERROR,
                activeSet ? "Set active scan index success" : "Set active scan index fail");

    uint32_t estimate = 0;
    int result = link::readEstimatedScanTime(module.link, estimate);
    int64_t timeout = result > 0 ? 3 * static_cast<int64_t>(estimate) : 3 * int64_t{result};
    if (timeout > kMaxScanWaitMs) timeout = kMaxScanWaitMs;

    int64_t start = nowMs();
    // A scan the module did not confirm may never have started: the data it
    // then serves is the previous scan's, which must not pass for a new one.
    if (const int started = link::startScan(module.link); started != 0)
        return scanFailed(module, "Starting the scan failed",
                          started < 0 ? linkKind(started) : Kind::Refused);

    // A status that could not be read says nothing about the scan: taking it
    // as "finished" would read out a scan that may still be running.
    uint32_t status = 0;
    if (const int read = link::readDeviceStatus(module.link, status); read <= 0)
        return statusReadFailed(module, read);
    while (status & kScanRunningBit) {
        if (nowMs() - start >= timeout) {
            length = 0;
            return scanFailed(module, "Wait for scan completion timed out", Kind::Timeout);
        }
        if (!pause(module, kStatusPollMs)) return cancelled(module);
        if (const int read = link::readDeviceStatus(module.link, status); read <= 0)
            return statusReadFailed(module, read);
    }

    // Only bytes that arrived in this scan may reach the decoder.
    if (image != nullptr) std::memset(image, 0, capacity);
    uint32_t size = 0;
    result = link::readScanDataSize(module.link, size);
    length = result > 0 ? size : static_cast<uint32_t>(result);
    if (result <= 0 || image == nullptr || size > capacity) {
        length = 0;
        return scanFailed(module, "Scan data read from device failed",
                          result <= 0 ? linkKind(result) : Kind::BadData);
    }
    size_t received = 0;
    int pieceResult = 1;
    while (received < size) {
        size_t piece = 0;
        pieceResult =
            link::readScanDataChunk(module.link, image + received, capacity - received, piece);
        if (pieceResult <= 0 || piece == 0) break;
        received += piece;
    }
    if (received != size) {
        length = static_cast<uint32_t>(received);
        return scanFailed(module, "Scan data read from device failed",
                          pieceResult <= 0 ? linkKind(pieceResult) : Kind::BadData);
    }
    return succeeded();
}

Outcome setSpectrumAverageTimeOp(Module& module, uint16_t count) {
    link::setAverageCount(module.link, count);
    QUILLON_LOG(module, "setSpectrumAverageTime", LOG_DEBUG, "Set spectrum average time success");
    return succeeded();
}

}  // namespace quillon
