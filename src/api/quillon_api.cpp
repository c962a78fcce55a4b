// The quillon_* functions: each open module is its own Module behind its own
// lock, and every call hands back the kind of its operation's outcome. The
// failure code of the 29 exports is neither read nor written here.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "api/call_lock.h"
#include "api/discovery.h"
#include "config/editing.h"
#include "config/list_store.h"
#include "config/model.h"
#include "config/table_values.h"
#include "config/tables.h"
#include "core/limits.h"
#include "core/session.h"
#include "link/commands.h"
#include "quillon.h"
#include "scan/formatted.h"
#include "spectrum/geometry.h"

using namespace quillon;

struct quillon_module {
    explicit quillon_module(ProcessLog& log) : module(log) {}
    Module module;
};

namespace {

quillon_result resultOf(Kind kind) {
    return static_cast<quillon_result>(kind);
}

// Runs `body` on the module alone; memory that runs out becomes a result.
template <class F>
quillon_result onModule(quillon_module* handle, F&& body) {
    if (handle == nullptr) return QUILLON_ERR_INVALID_ARGUMENT;
    Module& module = handle->module;
    std::lock_guard<std::mutex> alone(module.calls);
    try {
        const Outcome outcome = body(module);
        module.lastResult = outcome;
        return resultOf(outcome.kind);
    } catch (...) {
        return QUILLON_ERR_NO_MEMORY;
    }
}

Outcome invalid() {
    return failed(Kind::InvalidArgument, kParamInError);
}

// `text` into a caller buffer: NUL-terminated, cut to fit.
void copyText(const std::string& text, char* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return;
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// A serial number as text: its ASCII characters, anything else as '?'.
std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c > 0 && c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void fillInfo(quillon_module_info& info, const std::string& path, const std::wstring& serial) {
    copyText(path, info.path, sizeof info.path);
    copyText(narrow(serial), info.serial, sizeof info.serial);
}

// The caller's sections in the form the configuration editor checks.
bool targetSections(const quillon_section* sections, size_t count,
                    std::vector<TargetSection>& out) {
    if (count > 0 && sections == nullptr) return false;
    for (size_t i = 0; i < count; ++i) {
        const quillon_section& s = sections[i];
        const char* type = s.scan_type == 0 ? "Column" : s.scan_type == 1 ? "Hadamard" : "";
        out.push_back({type, s.width_nm, s.start_nm, s.end_nm, s.patterns, s.exposure_ms});
    }
    return true;
}

// Stores at `position`, or (when `append`) after the last configuration, in
// which case `position` receives where.
quillon_result storeAt(quillon_module* handle, bool append, size_t& position, const char* name,
                       const quillon_section* sections, size_t count, uint16_t repeats,
                       char* reason, size_t reasonCapacity) {
    copyText("", reason, reasonCapacity);
    return onModule(handle, [&](Module& module) {
        if (append) {
            position = module.scanConfigs.size();
        } else if (position >= module.scanConfigs.size()) {
            copyText("no configuration at that position", reason, reasonCapacity);
            return invalid();
        }
        std::vector<TargetSection> targets;
        if (name == nullptr || !targetSections(sections, count, targets)) {
            copyText("no name or no sections given", reason, reasonCapacity);
            return invalid();
        }
        const Outcome outcome =
            storeConfigurationAt(module, position, name, std::move(targets), repeats);
        if (!outcome.ok()) copyText(module.refusal, reason, reasonCapacity);
        return outcome;
    });
}

}  // namespace

extern "C" {

const char* quillon_result_text(quillon_result result) {
    switch (result) {
        case QUILLON_OK:
            return "success";
        case QUILLON_ERR_NOT_FOUND:
            return "no such module is attached";
        case QUILLON_ERR_BUSY:
            return "the module is in use by another handle or process";
        case QUILLON_ERR_ACCESS_DENIED:
            return "Access denied (insufficient permissions)";
        case QUILLON_ERR_TIMEOUT:
            return "the module did not answer in time";
        case QUILLON_ERR_DISCONNECTED:
            return "the module is disconnected";
        case QUILLON_ERR_REFUSED:
            return "the module refused the command";
        case QUILLON_ERR_INVALID_ARGUMENT:
            return "invalid argument";
        case QUILLON_ERR_BUFFER_TOO_SMALL:
            return "the buffer is too small";
        case QUILLON_ERR_CANCELLED:
            return "cancelled";
        case QUILLON_ERR_NO_HID_LAYER:
            return "no HID layer could be loaded";
        case QUILLON_ERR_NO_MEMORY:
            return "out of memory";
        case QUILLON_ERR_NO_CONFIGURATION:
            return "no configuration at the active position";
        case QUILLON_ERR_BAD_DATA:
            return "the module's data could not be decoded";
        case QUILLON_ERR_INCOMPLETE:
            return "the module's configurations were not all read";
    }
    return "unknown result";
}

const char* quillon_library_version(void) {
    return QUILLONLIB_VERSION;
}

quillon_result quillon_list(quillon_module_info* infos, size_t capacity, size_t* count) {
    if (count == nullptr || (infos == nullptr && capacity > 0)) return QUILLON_ERR_INVALID_ARGUMENT;
    try {
        const link::HidLayer* hid = link::systemHidLayer();
        if (hid == nullptr) return QUILLON_ERR_NO_HID_LAYER;
        std::vector<FoundModule> found;
        if (!listModules(hid, found)) return QUILLON_ERR_NOT_FOUND;
        *count = found.size();
        for (size_t i = 0; i < found.size() && i < capacity; ++i)
            fillInfo(infos[i], found[i].path, found[i].serialNumber);
        return QUILLON_OK;
    } catch (...) {
        return QUILLON_ERR_NO_MEMORY;
    }
}

quillon_result quillon_open(const char* path, quillon_module** module) {
    if (module == nullptr) return QUILLON_ERR_INVALID_ARGUMENT;
    *module = nullptr;
    try {
        const link::HidLayer* hid = link::systemHidLayer();
        if (hid == nullptr) return QUILLON_ERR_NO_HID_LAYER;
        std::vector<FoundModule> found;
        if (!listModules(hid, found)) return QUILLON_ERR_NOT_FOUND;
        auto chosen = std::find_if(found.begin(), found.end(), [&](const FoundModule& m) {
            return path == nullptr || m.path == path;
        });
        if (chosen == found.end()) return QUILLON_ERR_NOT_FOUND;
        ProcessLog* log = nullptr;
        {
            // The session (and with it the log) is the exports'; it is created
            // under their lock.
            std::lock_guard<std::mutex> exports(exportCallLock());
            SpectrometerSession* session = obtainSession();
            if (session == nullptr) return QUILLON_ERR_NO_MEMORY;
            log = &session->log;
        }
        std::unique_ptr<quillon_module> opened(new quillon_module(*log));
        opened->module.serialNumber = chosen->serialNumber;
        const Outcome outcome = openModuleAtPath(opened->module, *hid, chosen->path);
        if (!outcome.ok()) return resultOf(outcome.kind);
        *module = opened.release();
        return QUILLON_OK;
    } catch (...) {
        return QUILLON_ERR_NO_MEMORY;
    }
}

void quillon_close(quillon_module* module) {
    if (module == nullptr) return;
    {
        std::lock_guard<std::mutex> alone(module->module.calls);
        closeModuleLink(module->module);
    }
    delete module;
}

quillon_result quillon_module_identity(quillon_module* module, quillon_module_info* info) {
    return onModule(module, [&](Module& m) {
        if (info == nullptr) return invalid();
        fillInfo(*info, m.path, m.serialNumber);
        return succeeded();
    });
}

quillon_result quillon_versions(quillon_module* module, uint32_t words[7]) {
    return onModule(module, [&](Module& m) {
        if (words == nullptr) return invalid();
        uint32_t* const destinations[7] = {words,     words + 1, words + 2, words + 3,
                                           words + 4, words + 5, words + 6};
        return getVersionsOp(m, destinations);
    });
}

quillon_result quillon_config_count(quillon_module* module, size_t* count) {
    return onModule(module, [&](Module& m) {
        if (count == nullptr) return invalid();
        *count = m.scanConfigs.size();
        return succeeded();
    });
}

quillon_result quillon_config_name(quillon_module* module, size_t position, char* name,
                                   size_t capacity) {
    return onModule(module, [&](Module& m) {
        if (name == nullptr || capacity == 0 || position >= m.scanConfigs.size()) return invalid();
        copyText(std::string(configNameOf(m.scanConfigs[position])), name, capacity);
        return succeeded();
    });
}

quillon_result quillon_config_sections(quillon_module* module, size_t position,
                                       quillon_section* sections, size_t capacity, size_t* count,
                                       uint16_t* repeats) {
    return onModule(module, [&](Module& m) {
        if (count == nullptr || position >= m.scanConfigs.size()) return invalid();
        const ScanConfig& config = m.scanConfigs[position];
        const SectionList list = sectionsOf(config);
        *count = static_cast<size_t>(list.count);
        if (static_cast<size_t>(list.count) > capacity || sections == nullptr)
            return failed(Kind::BufferTooSmall, kParamInError);
        for (int s = 0; s < list.count; ++s) {
            const ScanSection& stored = list.sections[s];
            sections[s] =
                quillon_section{stored.sectionScanType,   widthValueOf(stored.widthPixels),
                                stored.wavelengthStartNm, stored.wavelengthEndNm,
                                stored.numPatterns,       exposureMsOf(stored.exposureTime)};
        }
        if (repeats != nullptr)
            *repeats = config.scanType == kSectionedScanType ? config.sectioned.numRepeats
                                                             : config.single.numRepeats;
        return succeeded();
    });
}

quillon_result quillon_config_add(quillon_module* module, const char* name,
                                  const quillon_section* sections, size_t count, uint16_t repeats,
                                  size_t* position, char* reason, size_t reason_capacity) {
    size_t at = 0;
    const quillon_result result =
        storeAt(module, true, at, name, sections, count, repeats, reason, reason_capacity);
    if (result == QUILLON_OK && position != nullptr) *position = at;
    return result;
}

quillon_result quillon_config_replace(quillon_module* module, size_t position, const char* name,
                                      const quillon_section* sections, size_t count,
                                      uint16_t repeats, char* reason, size_t reason_capacity) {
    return storeAt(module, false, position, name, sections, count, repeats, reason,
                   reason_capacity);
}

quillon_result quillon_config_remove(quillon_module* module, size_t position) {
    return onModule(module, [&](Module& m) { return removeConfigurationAt(m, position); });
}

quillon_result quillon_active_get(quillon_module* module, size_t* position) {
    return onModule(module, [&](Module& m) {
        if (position == nullptr) return invalid();
        uint8_t index = 0;
        const int read = link::readActiveScanIndex(m.link, index);
        if (read <= 0) return failed(linkKind(read), kDeviceReturnError);
        m.activeScanIndex = static_cast<int8_t>(index);
        *position = index;
        return succeeded();
    });
}

quillon_result quillon_active_set(quillon_module* module, size_t position) {
    return onModule(module, [&](Module& m) {
        if (position >= m.scanConfigs.size()) return invalid();
        return setActiveScanIndexOp(m, static_cast<uint8_t>(position));
    });
}

quillon_result quillon_point_count(quillon_module* module, size_t* points) {
    return onModule(module, [&](Module& m) {
        if (points == nullptr) return invalid();
        const int64_t count = activePointCount(m);
        if (count < 0) return failed(Kind::NoConfiguration, kDeviceReturnError);
        *points = static_cast<size_t>(count);
        return succeeded();
    });
}

quillon_result quillon_estimated_scan_time(quillon_module* module, uint32_t* milliseconds) {
    return onModule(module, [&](Module& m) {
        if (milliseconds == nullptr) return invalid();
        int result = 0;
        const Outcome outcome = getEstimatedScanTimeOp(m, result);
        if (outcome.ok()) *milliseconds = static_cast<uint32_t>(result);
        return outcome;
    });
}

quillon_result quillon_max_patterns(quillon_module* module, int scan_type, uint16_t start_nm,
                                    uint16_t end_nm, double width_nm, uint32_t* patterns) {
    return onModule(module, [&](Module& m) {
        if (patterns == nullptr || scan_type < 0 || scan_type >= kScanTypeCount) return invalid();
        int pixels = -1;
        for (int k = kMinWidthPixels; k < kMinWidthPixels + kWidthTableSize; ++k) {
            const double d = widthValueOf(k) - width_nm;
            if (-1e-7 < d && d < 1e-7) pixels = k;
        }
        if (pixels < 0) return invalid();
        const int maximum =
            computeMaxPatterns(m.calibration, start_nm, end_nm, static_cast<uint8_t>(pixels),
                               static_cast<uint32_t>(scan_type));
        *patterns = maximum > 0 ? static_cast<uint32_t>(maximum) : 0;
        return succeeded();
    });
}

quillon_result quillon_lamp_set(quillon_module* module, int on) {
    return onModule(module, [&](Module& m) { return setLampStatusOp(m, on); });
}

quillon_result quillon_lamp_get(quillon_module* module, int* on) {
    return onModule(module, [&](Module& m) {
        if (on == nullptr) return invalid();
        *on = m.lamp == Lamp::On ? 1 : m.lamp == Lamp::Off ? 0 : -1;
        return succeeded();
    });
}

quillon_result quillon_scan(quillon_module* module, double* wavelengths_nm, int32_t* intensities,
                            size_t capacity, size_t* points) {
    return onModule(module, [&](Module& m) {
        // A cancel meant for an earlier scan does not stop this one.
        m.cancelRequested.store(false, std::memory_order_relaxed);
        if (wavelengths_nm == nullptr || intensities == nullptr || points == nullptr)
            return invalid();
        const int64_t count = activePointCount(m);
        if (count < 0) return failed(Kind::NoConfiguration, kDeviceReturnError);
        if (static_cast<uint64_t>(count) > capacity)
            return failed(Kind::BufferTooSmall, kParamInError);
        const Outcome outcome = getFormattedSpectrumOp(m, wavelengths_nm, intensities, capacity);
        if (outcome.ok()) *points = static_cast<size_t>(count);
        return outcome;
    });
}

quillon_result quillon_cancel(quillon_module* module) {
    if (module == nullptr) return QUILLON_ERR_INVALID_ARGUMENT;
    module->module.cancelRequested.store(true, std::memory_order_relaxed);
    return QUILLON_OK;
}

size_t quillon_scan_type_count(void) {
    return kScanTypeCount;
}

const char* quillon_scan_type_name(int scan_type) {
    if (scan_type == 0) return "Column";
    if (scan_type == 1) return "Hadamard";
    return nullptr;
}

size_t quillon_width_count(void) {
    return kWidthTableSize;
}

quillon_result quillon_width(size_t index, double* width_nm) {
    if (width_nm == nullptr || index >= static_cast<size_t>(kWidthTableSize))
        return QUILLON_ERR_INVALID_ARGUMENT;
    *width_nm = widthValueOf(static_cast<int>(index) + kMinWidthPixels);
    return QUILLON_OK;
}

size_t quillon_exposure_count(void) {
    return kExposureTableSize;
}

quillon_result quillon_exposure(size_t index, double* exposure_ms) {
    if (exposure_ms == nullptr || index >= static_cast<size_t>(kExposureTableSize))
        return QUILLON_ERR_INVALID_ARGUMENT;
    *exposure_ms = kExposureTimesMs[index];
    return QUILLON_OK;
}

void quillon_pattern_range(uint32_t* minimum, uint32_t* maximum) {
    if (minimum != nullptr) *minimum = kMinPatterns;
    if (maximum != nullptr) *maximum = kMaxPatterns;
}

quillon_result quillon_recovery(quillon_module* module, quillon_recovery_info* info) {
    if (info == nullptr) return QUILLON_ERR_INVALID_ARGUMENT;
    const auto fill = [&](const RecoveryOutcome& outcome) {
        info->kind = static_cast<quillon_recovery_kind>(outcome.kind);
        info->restored = outcome.restored;
        copyText(outcome.detail, info->detail, sizeof info->detail);
    };
    if (module != nullptr)
        return onModule(module, [&](Module& m) {
            fill(m.recovery);
            return succeeded();
        });
    std::lock_guard<std::mutex> exports(exportCallLock());
    SpectrometerSession* session = obtainSession();
    if (session == nullptr) return QUILLON_ERR_NO_MEMORY;
    fill(session->module.recovery);
    return QUILLON_OK;
}

quillon_result quillon_config_record(quillon_module* module, size_t position, uint8_t* record,
                                     size_t capacity, size_t* length) {
    return onModule(module, [&](Module& m) {
        std::vector<uint8_t> bytes;
        if (length == nullptr || !storedRecord(m, position, bytes)) return invalid();
        *length = bytes.size();
        if (record == nullptr || capacity < bytes.size())
            return failed(Kind::BufferTooSmall, kParamInError);
        std::memcpy(record, bytes.data(), bytes.size());
        return succeeded();
    });
}

quillon_result quillon_configs_store(quillon_module* module, const quillon_stored_config* configs,
                                     size_t count, int replace, size_t active_position,
                                     char* reason, size_t reason_capacity) {
    copyText("", reason, reason_capacity);
    return onModule(module, [&](Module& m) {
        if (count > 0 && configs == nullptr) return invalid();
        std::vector<ConfigToStore> list(count);
        for (size_t i = 0; i < count; ++i) {
            const quillon_stored_config& given = configs[i];
            ConfigToStore& to = list[i];
            to.hasFields = given.name != nullptr;
            if (to.hasFields) {
                to.name = given.name;
                to.repeats = given.repeats;
                if (!targetSections(given.sections, given.section_count, to.sections))
                    return invalid();
            }
            if (given.record != nullptr)
                to.record.assign(given.record, given.record + given.record_length);
            if (!to.hasFields && to.record.empty()) {
                copyText("configuration " + std::to_string(i) + ": neither fields nor record",
                         reason, reason_capacity);
                return invalid();
            }
        }
        const Outcome outcome = storeConfigList(m, list, replace != 0, active_position);
        if (!outcome.ok()) copyText(m.refusal, reason, reason_capacity);
        return outcome;
    });
}

}  // extern "C"
