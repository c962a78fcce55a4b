#include "api/discovery.h"

#include <cerrno>
#include <climits>
#include <string>

#include "config/module_journal.h"
#include "config/retrieval.h"
#include "core/errors.h"
#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"

namespace quillon {
namespace {

// The serial number to open the module at `index` with: null when only one
// module was found (or it has none), so a single module is opened exactly by
// its identity; otherwise that entry's, so the index chooses among several.
const wchar_t* serialForOpening(const SpectrometerSession& session, size_t index) {
    if (session.foundModules.size() <= 1) return nullptr;
    const std::wstring& serial = session.foundModules[index].serialNumber;
    return serial.empty() ? nullptr : serial.c_str();
}

// Reads the module's active index. `delivered` receives the index when the
// exchange succeeded, otherwise the exchange's result; returns that result.
int readActiveIndex(Module& module, int& delivered) {
    uint8_t index = 0;
    int result = link::readActiveScanIndex(module.link, index);
    delivered = result > 0 ? index : result;
    QUILLON_LOG(module, "getActiveIndex", LOG_ERROR, "Get active index success");
    return result;
}

Outcome refusedOpening(int refusal) {
    // The open itself tells a module that is there but not ours to open.
    return refusal == EACCES || refusal == EPERM ? failed(Kind::AccessDenied, kAccessDenied)
                                                 : failed(Kind::NotFound, kNoSuchDevice);
}

}  // namespace

bool listModules(const link::HidLayer* hid, std::vector<FoundModule>& found) {
    if (hid == nullptr || hid->init() != 0) return false;
    found.clear();
    hid_device_info* list = hid->enumerate(0, 0);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        if (info->vendor_id == link::kModuleVendorId && info->product_id == link::kModuleProductId)
            found.push_back({info->serial_number != nullptr ? info->serial_number : std::wstring(),
                             info->path != nullptr ? info->path : std::string()});
    }
    hid->freeEnumeration(list);
    return true;
}

Outcome enumerateDevicesOp(SpectrometerSession& session, const link::HidLayer* hid,
                           unsigned int* count) {
    Module& module = session.module;
    link::setReadTimeout(module.link, link::kDefaultReadTimeoutMs);
    // Without a HID layer nothing can be found: the same outcome as a HID
    // layer that cannot start.
    if (hid == nullptr) QUILLON_LOG(module, "enumerateDevices", LOG_ERROR, "no HID layer");
    std::vector<FoundModule> found;
    if (!listModules(hid, found)) {
        QUILLON_LOG(module, "enumerateDevices", LOG_ERROR, "NIR USB device init fail");
        return failed(hid == nullptr ? Kind::NoHidLayer : Kind::NotFound, kNoSuchDevice);
    }
    session.foundModules = std::move(found);
    session.foundThrough = hid;
    if (session.foundModules.empty()) {
        QUILLON_LOG(module, "enumerateDevices", LOG_ERROR, "NIR USB enumerate fail");
        return failed(Kind::NotFound, kEntityNotFound);
    }
    session.foundCount = static_cast<unsigned int>(session.foundModules.size());
    QUILLON_LOG(module, "enumerateDevices", LOG_DEBUG, "NIR USB enumerate success");
    if (count != nullptr) *count = session.foundCount;
    return succeeded();
}

// Steps after the link is open: the active index, re-sent as read, then the
// calibration and every stored configuration.
Outcome openSpectrometerOp(SpectrometerSession& session, int index) {
    Module& module = session.module;
    if (index < 0 || static_cast<size_t>(index) >= session.foundModules.size()) {
        QUILLON_LOG(module, "openSpectrometer", LOG_DEBUG,
                    "Open NIR device error,please check device index");
        return failed(Kind::InvalidArgument, kInvalidParameter);
    }
    const FoundModule& chosen = session.foundModules[static_cast<size_t>(index)];
    bool opened = false;
    int refusal = 0;
    if (!link::moduleOpen(module.link)) {
        // Held before it is opened: a module another process uses is left
        // untouched, not even opened.
        if (module.hold.acquire(chosen.path) == HoldResult::Busy) {
            QUILLON_LOG(
                module, "openSpectrometer", LOG_ERROR,
                "Open NIR device fail,in use by another process,index:" + std::to_string(index));
            return failed(Kind::Busy, kResourceBusy);
        }
        opened = link::openModule(module.link, *session.foundThrough, link::kModuleVendorId,
                                  link::kModuleProductId,
                                  serialForOpening(session, static_cast<size_t>(index)), &refusal);
        if (!opened) module.hold.release();
    }
    if (!opened) {
        QUILLON_LOG(module, "openSpectrometer", LOG_DEBUG,
                    "Open NIR device fail,index:" + std::to_string(index));
        return refusal == 0 && link::moduleOpen(module.link) ? failed(Kind::Busy, kNoSuchDevice)
                                                             : refusedOpening(refusal);
    }
    module.path = chosen.path;
    module.serialNumber = chosen.serialNumber;
    module.lamp = Lamp::Unknown;
    recoverSaveAtOpen(module);
    // A module that did not answer has told us no index: sending one anyway
    // would overwrite its stored choice.
    int delivered = 0;
    const int read = readActiveIndex(module, delivered);
    if (read <= 0) {
        QUILLON_LOG(module, "openSpectrometer", LOG_ERROR, "Get active cfg index error");
        return failed(linkKind(read), kDeviceReturnError);
    }
    module.activeScanIndex = static_cast<int8_t>(delivered & 0xFF);
    setActiveScanIndexOp(module, static_cast<uint8_t>(delivered & 0xFF));
    getScanSection(module);
    QUILLON_LOG(module, "openSpectrometer", LOG_DEBUG, "open usb device success");
    return succeeded();
}

Outcome openModuleAtPath(Module& module, const link::HidLayer& hid, const std::string& path) {
    if (link::moduleOpen(module.link)) return failed(Kind::Busy, kNoSuchDevice);
    if (module.hold.acquire(path) == HoldResult::Busy) {
        QUILLON_LOG(module, "openModule", LOG_ERROR,
                    "Open NIR device fail,in use by another process: " + path);
        return failed(Kind::Busy, kResourceBusy);
    }
    int refusal = 0;
    if (!link::openModulePath(module.link, hid, path.c_str(), &refusal)) {
        module.hold.release();
        QUILLON_LOG(module, "openModule", LOG_ERROR, "Open NIR device fail: " + path);
        return refusedOpening(refusal);
    }
    module.path = path;
    module.lamp = Lamp::Unknown;
    recoverSaveAtOpen(module);
    // Only read: opening never changes what the module stores.
    const Outcome read = getScanSection(module);
    // A module that stores none opens with none (after `config rm --all`).
    if (!read.ok() && read.kind != Kind::NoConfiguration) {
        closeModuleLink(module);
        return read;
    }
    QUILLON_LOG(module, "openModule", LOG_DEBUG, "open usb device success: " + path);
    return succeeded();
}

void closeModuleLink(Module& module) {
    link::closeModule(module.link);
    module.hold.release();
}

void closeSpectrometerOp(Module& module) {
    closeModuleLink(module);
    QUILLON_LOG(module, "closeSpectrometer", LOG_DEBUG, "Close NIR device success");
}

Outcome getVersionsOp(Module& module, uint32_t* const destinations[7]) {
    uint32_t words[7];
    // Nothing received is no answer: reporting success would hand out nothing.
    const int result = link::readVersions(module.link, words);
    if (result <= 0) return failedKeeping(linkKind(result), kDeviceReturnError);
    for (int i = 0; i < 7; ++i)
        if (destinations[i] != nullptr) *destinations[i] = words[i];
    return succeededQuietly();
}

Outcome getActiveScanIndexOp(Module& module, int* index) {
    int delivered = 0;
    const int result = readActiveIndex(module, delivered);
    if (index != nullptr) *index = delivered;
    // The exports report the failed read through the index alone.
    return result > 0 ? succeeded() : Outcome{linkKind(result), kNoError, CodeRule::Store};
}

Outcome setActiveScanIndexOp(Module& module, uint8_t index) {
    const int result = link::setActiveScanIndexCommand(module.link, index);
    if (result >= 0) {
        QUILLON_LOG(module, "setActiveScanIndex", LOG_ERROR, "Set active scan index success");
        module.activeScanIndex = static_cast<int8_t>(index);
        return succeeded();
    }
    QUILLON_LOG(module, "setActiveScanIndex", LOG_ERROR, "Set active scan index fail");
    return failed(linkKind(result), kInvalidParameter);
}

Outcome setLampStatusOp(Module& module, int on) {
    const int off = link::lampOffControl(module.link, on == 0 ? 1 : 0);
    const int lit = link::lampOnControl(module.link, on != 0 ? 1 : 0);
    QUILLON_LOG(module, "setLampStatus", LOG_ERROR, "Set lamp status success");
    module.lamp = on != 0 ? Lamp::On : Lamp::Off;
    // The exports report every lamp command as done; the kind tells the truth.
    const int worst = off < 0 ? off : lit;
    if (worst < 0) return {linkKind(worst), kNoError, CodeRule::Store};
    if (off != 0 || lit != 0) return {Kind::Refused, kNoError, CodeRule::Store};
    return succeeded();
}

Outcome getEstimatedScanTimeOp(Module& module, int& result) {
    uint32_t milliseconds = 0;
    result = link::readEstimatedScanTime(module.link, milliseconds);
    if (result <= 0) return failedKeeping(linkKind(result), kDeviceReturnError);
    // Above INT_MAX the value would read as a link failure; no scan is that long.
    result = milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
    return succeededQuietly();
}

}  // namespace quillon
