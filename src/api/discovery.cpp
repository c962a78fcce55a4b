#include "api/discovery.h"

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "api/module_hold.h"
#include "config/retrieval.h"
#include "core/errors.h"
#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"

namespace quillon {
namespace {

// A module as the HID layer listed it.
struct FoundModule {
    std::wstring serialNumber;  // empty when the device has none
    std::string path;           // the HID layer's name for it
};

// One entry per matching HID entry of the last successful enumeration, and the
// HID layer that listed them (the one they are opened through). Their serial
// numbers let the indexed module be opened when several are attached.
std::vector<FoundModule> g_foundModules;
const link::HidLayer* g_foundThrough = nullptr;
unsigned int g_foundCount = 0;
// This process's hold of the open module; released when the library unloads.
ModuleHold g_hold;

// The serial number to open the module at `index` with: null when only one
// module was found (or it has none), so a single module is opened exactly by
// its identity; otherwise that entry's, so the index chooses among several.
const wchar_t* serialForOpening(size_t index) {
    if (g_foundModules.size() <= 1) return nullptr;
    const std::wstring& serial = g_foundModules[index].serialNumber;
    return serial.empty() ? nullptr : serial.c_str();
}

// Reads the module's active index. `delivered` receives the index when the
// exchange succeeded, otherwise the exchange's result; returns that result.
int readActiveIndex(SpectrometerSession& session, int& delivered) {
    uint8_t index = 0;
    int result = link::readActiveScanIndex(index);
    delivered = result > 0 ? index : result;
    QUILLON_LOG(session, "getActiveIndex", LOG_ERROR, "Get active index success");
    lastErrorCode = kNoError;
    return result;
}

}  // namespace

int enumerateDevicesOp(SpectrometerSession& session, const link::HidLayer* hid,
                       unsigned int* count) {
    link::setReadTimeout(link::kDefaultReadTimeoutMs);
    // Without a HID layer nothing can be found: the same outcome as a HID
    // layer that cannot start.
    if (hid == nullptr) QUILLON_LOG(session, "enumerateDevices", LOG_ERROR, "no HID layer");
    if (hid == nullptr || hid->init() != 0) {
        QUILLON_LOG(session, "enumerateDevices", LOG_ERROR, "NIR USB device init fail");
        lastErrorCode = kNoSuchDevice;
        return -1;
    }
    g_foundModules.clear();
    g_foundThrough = hid;
    hid_device_info* list = hid->enumerate(0, 0);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        if (info->vendor_id == link::kModuleVendorId && info->product_id == link::kModuleProductId)
            g_foundModules.push_back(
                {info->serial_number != nullptr ? info->serial_number : std::wstring(),
                 info->path != nullptr ? info->path : std::string()});
    }
    hid->freeEnumeration(list);
    if (g_foundModules.empty()) {
        QUILLON_LOG(session, "enumerateDevices", LOG_ERROR, "NIR USB enumerate fail");
        lastErrorCode = kEntityNotFound;
        return -1;
    }
    g_foundCount = static_cast<unsigned int>(g_foundModules.size());
    QUILLON_LOG(session, "enumerateDevices", LOG_DEBUG, "NIR USB enumerate success");
    lastErrorCode = kNoError;
    if (count != nullptr) *count = g_foundCount;
    return 0;
}

int openSpectrometerOp(SpectrometerSession& session, int index) {
    if (index < 0 || static_cast<size_t>(index) >= g_foundModules.size()) {
        QUILLON_LOG(session, "openSpectrometer", LOG_DEBUG,
                    "Open NIR device error,please check device index");
        lastErrorCode = kInvalidParameter;
        return -1;
    }
    bool opened = false;
    int refusal = 0;
    if (!link::moduleOpen()) {
        // Held before it is opened: a module another process uses is left
        // untouched, not even opened.
        if (g_hold.acquire(g_foundModules[static_cast<size_t>(index)].path) == HoldResult::Busy) {
            QUILLON_LOG(
                session, "openSpectrometer", LOG_ERROR,
                "Open NIR device fail,in use by another process,index:" + std::to_string(index));
            lastErrorCode = kResourceBusy;
            return -1;
        }
        opened = link::openModule(*g_foundThrough, link::kModuleVendorId, link::kModuleProductId,
                                  serialForOpening(static_cast<size_t>(index)), &refusal);
        if (!opened) g_hold.release();
    }
    if (!opened) {
        QUILLON_LOG(session, "openSpectrometer", LOG_DEBUG,
                    "Open NIR device fail,index:" + std::to_string(index));
        // The open itself tells a module that is there but not ours to open.
        lastErrorCode = refusal == EACCES || refusal == EPERM ? kAccessDenied : kNoSuchDevice;
        return -1;
    }
    // A module that did not answer has told us no index: sending one anyway
    // would overwrite its stored choice.
    int delivered = 0;
    if (readActiveIndex(session, delivered) <= 0) {
        QUILLON_LOG(session, "openSpectrometer", LOG_ERROR, "Get active cfg index error");
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    session.activeScanIndex = static_cast<int8_t>(delivered & 0xFF);
    setActiveScanIndexOp(session, static_cast<uint8_t>(delivered & 0xFF));
    getScanSection(session);
    QUILLON_LOG(session, "openSpectrometer", LOG_DEBUG, "open usb device success");
    lastErrorCode = kNoError;
    return 0;
}

void closeSpectrometerOp(SpectrometerSession& session) {
    link::closeModule();
    g_hold.release();
    QUILLON_LOG(session, "closeSpectrometer", LOG_DEBUG, "Close NIR device success");
}

int getVersionsOp(uint32_t* const destinations[7]) {
    uint32_t words[7];
    // Nothing received is no answer: reporting success would hand out nothing.
    if (link::readVersions(words) <= 0) return -1;
    for (int i = 0; i < 7; ++i)
        if (destinations[i] != nullptr) *destinations[i] = words[i];
    return 0;
}

int getActiveScanIndexOp(SpectrometerSession& session, int* index) {
    int delivered = 0;
    readActiveIndex(session, delivered);
    if (index != nullptr) *index = delivered;
    return 0;
}

int setActiveScanIndexOp(SpectrometerSession& session, uint8_t index) {
    int result = link::setActiveScanIndexCommand(index);
    if (result >= 0) {
        QUILLON_LOG(session, "setActiveScanIndex", LOG_ERROR, "Set active scan index success");
        session.activeScanIndex = static_cast<int8_t>(index);
        lastErrorCode = kNoError;
        return 0;
    }
    QUILLON_LOG(session, "setActiveScanIndex", LOG_ERROR, "Set active scan index fail");
    lastErrorCode = kInvalidParameter;
    return -1;
}

int setLampStatusOp(SpectrometerSession& session, int on) {
    link::lampOffControl(on == 0 ? 1 : 0);
    link::lampOnControl(on != 0 ? 1 : 0);
    QUILLON_LOG(session, "setLampStatus", LOG_ERROR, "Set lamp status success");
    lastErrorCode = kNoError;
    return 0;
}

int getEstimatedScanTimeOp() {
    uint32_t milliseconds = 0;
    int result = link::readEstimatedScanTime(milliseconds);
    if (result <= 0) return result;
    // Above INT_MAX the value would read as a link failure; no scan is that long.
    return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
}

}  // namespace quillon
