#include "config/editing.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "config/model.h"
#include "config/retrieval.h"
#include "config/tables.h"
#include "config/upload.h"
#include "core/errors.h"
#include "core/limits.h"
#include "spectrum/geometry.h"

namespace quillon {
namespace {

Outcome fail(Module& module, std::string_view message) {
    QUILLON_LOG(module, "setTargetLists", LOG_ERROR, message);
    module.refusal = message;
    return failed(Kind::InvalidArgument, kParamInError);
}

// The sections of a stored record that the caller's view leaves out (an index
// outside a table) cannot be committed back: the caller never saw them.
bool viewHidesSections(const ScanConfig& config) {
    SectionList list = sectionsOf(config);
    return !std::all_of(list.sections, list.sections + list.count, sectionInTables);
}

// Validates the caller's sections into `record`; what is wrong is logged.
Outcome validateSections(Module& module, const std::vector<TargetSection>& sections,
                         uint16_t numRepeats, ScanConfig& record) {
    int total = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        const TargetSection& t = sections[s];
        ScanSection& r = record.sectioned.sections[s];

        std::map<int, std::string> types;
        getScanType(module, types);
        int type = -1;
        for (const auto& [key, typeName] : types)
            if (typeName == t.typeName) type = key;
        if (type < 0)
            return fail(module, "section scan type was wrong,only two types:Column, Hadamard");
        r.sectionScanType = static_cast<uint8_t>(type);

        if (!wavelengthsInRange(t.wavelengthStartNm, t.wavelengthEndNm))
            return fail(module, "Wrong start or end wavelength");
        r.wavelengthStartNm = t.wavelengthStartNm;
        r.wavelengthEndNm = t.wavelengthEndNm;

        std::vector<double> widths;
        getWidthPixels(module, widths);
        int widthIndex = findTableValue(widths, t.width);
        if (widthIndex < 0) return fail(module, "Wrong width pixel");
        r.widthPixels = static_cast<uint8_t>(widthIndex + kMinWidthPixels);

        int maximum = computeMaxPatterns(module.calibration, r.wavelengthStartNm, r.wavelengthEndNm,
                                         r.widthPixels, r.sectionScanType);
        if (maximum < kMinPatterns)
            return fail(module,
                        "Wrong pattern,pattern is less than two,if you are not sure, please refer "
                        "to getMaxPatterns");
        if (t.numPatterns > maximum)
            return fail(
                module,
                "Wrong pattern,the number of patterns is greater than the maximum number of "
                "patterns,if you are not sure, please refer to getMaxPatterns");
        r.numPatterns = t.numPatterns;

        int shown = t.numPatterns;
        if (r.sectionScanType == 1) {
            ScanConfig single{};
            single.scanType = 1;
            single.single.wavelengthStartNm = r.wavelengthStartNm;
            single.single.wavelengthEndNm = r.wavelengthEndNm;
            single.single.widthPixels = r.widthPixels;
            single.single.numPatterns = r.numPatterns;
            single.single.numRepeats = numRepeats;
            HadamardPlan plan;
            // A section that cannot be grouped cannot be measured at all.
            if (planHadamardGroups(single, module.calibration, plan) != SpecStatus::Ok)
                return fail(module,
                            t.numPatterns < 3
                                ? "Wrong pattern,pattern is less than two,if you are not sure, "
                                  "please refer to getMaxPatterns"
                                : "Wrong pattern,the number of patterns is greater than the "
                                  "maximum number of patterns,if you are not sure, please refer "
                                  "to getMaxPatterns");
            shown = plan.total;
        }
        total += shown;
        if (total > kMaxPatterns)
            return fail(module,
                        "The total number of patterns is greater than the maximum number of "
                        "patterns,The maximum number of patterns is 624");

        std::vector<double> exposures;
        getExposureTimes(module, exposures);
        int exposureIndex = findTableValue(exposures, t.exposure);
        if (exposureIndex < 0) return fail(module, "Exposure time parameter error");
        r.exposureTime = static_cast<uint16_t>(exposureIndex);
    }
    return succeeded();
}

// Saves `candidate` to the module. On failure the module may hold only part
// of it, so the list it held before is written back once; if even that fails
// the module remembers that the module is short of the host's list.
Outcome saveList(Module& module, const std::deque<ScanConfig>& candidate, uint8_t activeIndex) {
    const Outcome saved = exportTargetList(module, candidate, activeIndex);
    if (saved.ok()) {
        module.moduleOutOfDate = false;
        return saved;
    }
    if (!exportTargetList(module, module.scanConfigs, static_cast<uint8_t>(module.activeScanIndex))
             .ok())
        module.moduleOutOfDate = true;
    module.refusal = "the module did not store the configurations";
    return failed(saved.kind, kDeviceReturnError);
}

// The host's list must hold everything the module stores before it may
// replace the module's list; otherwise a save would erase what was not read.
Outcome listIsSavable(Module& module, const char* operation) {
    if (module.configsComplete) return succeeded();
    QUILLON_LOG(module, operation, LOG_ERROR,
                "Scan configurations were not read completely from the device");
    module.refusal = "the configurations were not read completely from the module";
    return failed(Kind::Incomplete, kDeviceReturnError);
}

// A section edit that names no section: the exports report it without a
// message of their own.
Outcome sectionRefused() {
    return failedKeeping(Kind::InvalidArgument, kParamInError);
}

// Validates `sections` into the record for `position` (an existing one is
// replaced, the next free one added) and saves the list with it.
Outcome commitAt(Module& module, int position, const std::string& name,
                 const std::vector<TargetSection>& sections, uint16_t numRepeats, bool byName) {
    ScanConfig record{};
    if (position >= 0 && static_cast<size_t>(position) < module.scanConfigs.size()) {
        if (sections.size() > kMaxSections)
            return fail(module, "section size more than five,max size is five");
        const ScanConfig& stored = module.scanConfigs[static_cast<size_t>(position)];
        // Two records of one name, or sections the view does not show, would be
        // rewritten with sections other than the ones they hold.
        size_t sameName = 0;
        for (const ScanConfig& c : module.scanConfigs) sameName += configNameOf(c) == name;
        if ((byName && sameName > 1) || viewHidesSections(stored))
            return fail(module, "Scan configuration holds sections that cannot be edited");
        record = stored;
        if (configNameOf(stored) != name) {
            if (name.size() >= kConfigNameSize)
                return fail(module, "Scan configuration name is longer than 39 bytes");
            std::memset(record.configName, 0, sizeof record.configName);
            std::memcpy(record.configName, name.data(), name.size());
        }
    } else {
        if (module.scanConfigs.size() >= kMaxStoredConfigs)
            return fail(module, "Scan configuration is up to 20 parameter groups");
        if (sections.size() > kMaxSections)
            return fail(module, "section size more than five,max size is five");
        if (name.size() >= kConfigNameSize)
            return fail(module, "Scan configuration name is longer than 39 bytes");
        std::memcpy(record.configName, name.data(), name.size());
    }
    // Validated into a copy: the stored list changes only once every check passed.
    record.scanType = kSectionedScanType;
    record.sectioned.numRepeats = numRepeats;
    record.sectioned.numSections = static_cast<uint8_t>(sections.size());
    if (const Outcome valid = validateSections(module, sections, numRepeats, record); !valid.ok())
        return valid;

    std::deque<ScanConfig> candidate = module.scanConfigs;
    if (position >= 0 && static_cast<size_t>(position) < candidate.size())
        candidate[static_cast<size_t>(position)] = record;
    else
        candidate.push_back(record);
    if (const Outcome saved =
            saveList(module, candidate, static_cast<uint8_t>(module.activeScanIndex));
        !saved.ok())
        return saved;
    module.scanConfigs = std::move(candidate);
    QUILLON_LOG(module, "setTargetLists", LOG_ERROR, "Set target Configuration success");
    return succeeded();
}

// Removes the record at `position` (which exists) from the module.
Outcome removeAt(Module& module, size_t position, const char* operation) {
    if (const Outcome savable = listIsSavable(module, operation); !savable.ok()) return savable;
    std::deque<ScanConfig> candidate = module.scanConfigs;
    candidate.erase(candidate.begin() + static_cast<std::ptrdiff_t>(position));
    // The same configuration stays active; when it is the one removed, the
    // first one becomes active.
    int active = module.activeScanIndex;
    if (active > static_cast<int>(position))
        --active;
    else if (active == static_cast<int>(position))
        active = 0;
    if (const Outcome saved = saveList(module, candidate, static_cast<uint8_t>(active));
        !saved.ok())
        return saved;
    module.scanConfigs = std::move(candidate);
    module.activeScanIndex = static_cast<int8_t>(active);
    return succeeded();
}

}  // namespace

Outcome setTgtCfgOp(Module& module, const std::string& name, int sectionIndex,
                    const TargetSection& section) {
    auto [first, last] = module.targetConfigs.equal_range(name);
    if (first == last) {
        if (sectionIndex != 0) return sectionRefused();
        module.targetConfigs.emplace(name, section);
        return succeededQuietly();
    }
    int count = static_cast<int>(std::distance(first, last));
    // A negative position names no section; overwriting the first one for it
    // would silently change a section the caller did not mean.
    if (sectionIndex >= 0 && sectionIndex < count) {
        std::next(first, sectionIndex)->second = section;
        return succeededQuietly();
    }
    if (sectionIndex < 0 || sectionIndex >= kMaxSections || sectionIndex > count) {
        QUILLON_LOG(module, "setTgtCfg", LOG_ERROR, "Scan configuration index error");
        return sectionRefused();
    }
    module.targetConfigs.emplace_hint(last, name, section);
    return succeededQuietly();
}

Outcome setTgtCfgsOp(Module& module, const std::string& name, uint16_t numRepeats) {
    auto [first, last] = module.targetConfigs.equal_range(name);
    if (first == last) {
        QUILLON_LOG(module, "setTgtCfgs", LOG_ERROR, "Set target name error");
        return sectionRefused();
    }
    std::vector<TargetSection> sections;
    for (auto it = first; it != last; ++it) sections.push_back(it->second);
    return setTargetLists(module, name, std::move(sections), numRepeats);
}

Outcome setTargetLists(Module& module, const std::string& name, std::vector<TargetSection> sections,
                       uint16_t numRepeats) {
    if (const Outcome savable = listIsSavable(module, "setTargetLists"); !savable.ok())
        return savable;
    return commitAt(module, findConfig(module.scanConfigs, name), name, sections, numRepeats, true);
}

Outcome removeTargetCfg(Module& module, const std::string& name) {
    int position = findConfig(module.scanConfigs, name);
    if (position < 0) {
        QUILLON_LOG(module, "removeTargetCfg", LOG_ERROR, "Scan configuration name not found");
        return failed(Kind::InvalidArgument, kParamInError);
    }
    if (const Outcome removed = removeAt(module, static_cast<size_t>(position), "removeTargetCfg");
        !removed.ok())
        return removed;
    module.targetConfigs.erase(name);
    QUILLON_LOG(module, "removeTargetCfg", INFO, "Remove scan configuration success");
    return succeeded();
}

Outcome storeConfigurationAt(Module& module, size_t position, const std::string& name,
                             std::vector<TargetSection> sections, uint16_t numRepeats) {
    module.refusal.clear();
    if (position > module.scanConfigs.size()) {
        module.refusal = "no configuration at that position";
        return failed(Kind::InvalidArgument, kParamInError);
    }
    if (const Outcome savable = listIsSavable(module, "setTargetLists"); !savable.ok())
        return savable;
    const Outcome stored =
        commitAt(module, static_cast<int>(position), name, sections, numRepeats, false);
    if (stored.ok()) rebuildTargetConfigs(module);
    return stored;
}

Outcome removeConfigurationAt(Module& module, size_t position) {
    module.refusal.clear();
    if (position >= module.scanConfigs.size()) {
        module.refusal = "no configuration at that position";
        return failed(Kind::InvalidArgument, kParamInError);
    }
    const Outcome removed = removeAt(module, position, "removeTargetCfg");
    if (removed.ok()) {
        rebuildTargetConfigs(module);
        QUILLON_LOG(module, "removeTargetCfg", INFO, "Remove scan configuration success");
    }
    return removed;
}

Outcome checkSections(Module& module, const std::vector<TargetSection>& sections,
                      uint16_t numRepeats, ScanConfig& record) {
    return validateSections(module, sections, numRepeats, record);
}

Outcome saveWholeList(Module& module, const std::deque<ScanConfig>& candidate,
                      uint8_t activeIndex) {
    if (const Outcome savable = listIsSavable(module, "storeConfigList"); !savable.ok())
        return savable;
    return saveList(module, candidate, activeIndex);
}

}  // namespace quillon
