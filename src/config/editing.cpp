#include "config/editing.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "config/model.h"
#include "config/tables.h"
#include "config/upload.h"
#include "core/errors.h"
#include "core/limits.h"
#include "spectrum/geometry.h"

namespace quillon {
namespace {

int fail(SpectrometerSession& session, std::string_view message) {
    QUILLON_LOG(session, "setTargetLists", LOG_ERROR, message);
    lastErrorCode = kParamInError;
    return -1;
}

// The sections of a stored record that the caller's view leaves out (an index
// outside a table) cannot be committed back: the caller never saw them.
bool viewHidesSections(const ScanConfig& config) {
    SectionList list = sectionsOf(config);
    return !std::all_of(list.sections, list.sections + list.count, sectionInTables);
}

// Validates the caller's sections into `record`; 0, or -1 after logging why.
int validateSections(SpectrometerSession& session, const std::vector<TargetSection>& sections,
                     uint16_t numRepeats, ScanConfig& record) {
    int total = 0;
    for (size_t s = 0; s < sections.size(); ++s) {
        const TargetSection& t = sections[s];
        ScanSection& r = record.sectioned.sections[s];

        std::map<int, std::string> types;
        getScanType(session, types);
        int type = -1;
        for (const auto& [key, typeName] : types)
            if (typeName == t.typeName) type = key;
        if (type < 0)
            return fail(session, "section scan type was wrong,only two types:Column, Hadamard");
        r.sectionScanType = static_cast<uint8_t>(type);

        if (!wavelengthsInRange(t.wavelengthStartNm, t.wavelengthEndNm))
            return fail(session, "Wrong start or end wavelength");
        r.wavelengthStartNm = t.wavelengthStartNm;
        r.wavelengthEndNm = t.wavelengthEndNm;

        std::vector<double> widths;
        getWidthPixels(session, widths);
        int widthIndex = findTableValue(widths, t.width);
        if (widthIndex < 0) return fail(session, "Wrong width pixel");
        r.widthPixels = static_cast<uint8_t>(widthIndex + kMinWidthPixels);

        int maximum = computeMaxPatterns(session.calibration, r.wavelengthStartNm,
                                         r.wavelengthEndNm, r.widthPixels, r.sectionScanType);
        if (maximum < kMinPatterns)
            return fail(session,
                        "Wrong pattern,pattern is less than two,if you are not sure, please refer "
                        "to getMaxPatterns");
        if (t.numPatterns > maximum)
            return fail(
                session,
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
            if (planHadamardGroups(single, session.calibration, plan) != SpecStatus::Ok)
                return fail(session,
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
            return fail(session,
                        "The total number of patterns is greater than the maximum number of "
                        "patterns,The maximum number of patterns is 624");

        std::vector<double> exposures;
        getExposureTimes(session, exposures);
        int exposureIndex = findTableValue(exposures, t.exposure);
        if (exposureIndex < 0) return fail(session, "Exposure time parameter error");
        r.exposureTime = static_cast<uint16_t>(exposureIndex);
    }
    return 0;
}

// Saves `candidate` to the module. On failure the module may hold only part
// of it, so the list it held before is written back once; if even that fails
// the session remembers that the module is short of the host's list.
bool saveList(SpectrometerSession& session, const std::deque<ScanConfig>& candidate,
              uint8_t activeIndex) {
    if (exportTargetList(session, candidate, activeIndex) == 0) {
        session.moduleOutOfDate = false;
        return true;
    }
    if (exportTargetList(session, session.scanConfigs,
                         static_cast<uint8_t>(session.activeScanIndex)) != 0)
        session.moduleOutOfDate = true;
    return false;
}

// The host's list must hold everything the module stores before it may
// replace the module's list; otherwise a save would erase what was not read.
bool listIsSavable(SpectrometerSession& session, const char* operation) {
    if (session.configsComplete) return true;
    QUILLON_LOG(session, operation, LOG_ERROR,
                "Scan configurations were not read completely from the device");
    lastErrorCode = kDeviceReturnError;
    return false;
}

}  // namespace

int setTgtCfgOp(SpectrometerSession& session, const std::string& name, int sectionIndex,
                const TargetSection& section) {
    auto [first, last] = session.targetConfigs.equal_range(name);
    if (first == last) {
        if (sectionIndex != 0) return -1;
        session.targetConfigs.emplace(name, section);
        return 0;
    }
    int count = static_cast<int>(std::distance(first, last));
    // A negative position names no section; overwriting the first one for it
    // would silently change a section the caller did not mean.
    if (sectionIndex >= 0 && sectionIndex < count) {
        std::next(first, sectionIndex)->second = section;
        return 0;
    }
    if (sectionIndex < 0 || sectionIndex >= kMaxSections || sectionIndex > count) {
        QUILLON_LOG(session, "setTgtCfg", LOG_ERROR, "Scan configuration index error");
        return -1;
    }
    session.targetConfigs.emplace_hint(last, name, section);
    return 0;
}

int setTgtCfgsOp(SpectrometerSession& session, const std::string& name, uint16_t numRepeats) {
    auto [first, last] = session.targetConfigs.equal_range(name);
    if (first == last) {
        QUILLON_LOG(session, "setTgtCfgs", LOG_ERROR, "Set target name error");
        return -1;
    }
    std::vector<TargetSection> sections;
    for (auto it = first; it != last; ++it) sections.push_back(it->second);
    return setTargetLists(session, name, std::move(sections), numRepeats);
}

int setTargetLists(SpectrometerSession& session, const std::string& name,
                   std::vector<TargetSection> sections, uint16_t numRepeats) {
    if (!listIsSavable(session, "setTargetLists")) return -1;
    int position = findConfig(session.scanConfigs, name);
    ScanConfig record{};
    if (position >= 0) {
        if (sections.size() > kMaxSections)
            return fail(session, "section size more than five,max size is five");
        const ScanConfig& stored = session.scanConfigs[static_cast<size_t>(position)];
        // Two records of one name, or sections the view does not show, would be
        // rewritten with sections other than the ones they hold.
        size_t sameName = 0;
        for (const ScanConfig& c : session.scanConfigs) sameName += configNameOf(c) == name;
        if (sameName > 1 || viewHidesSections(stored))
            return fail(session, "Scan configuration holds sections that cannot be edited");
        record = stored;
    } else {
        if (session.scanConfigs.size() >= kMaxStoredConfigs)
            return fail(session, "Scan configuration is up to 20 parameter groups");
        if (sections.size() > kMaxSections)
            return fail(session, "section size more than five,max size is five");
        if (name.size() >= kConfigNameSize)
            return fail(session, "Scan configuration name is longer than 39 bytes");
        std::memcpy(record.configName, name.data(), name.size());
    }
    // Validated into a copy: the stored list changes only once every check passed.
    record.scanType = kSectionedScanType;
    record.sectioned.numRepeats = numRepeats;
    record.sectioned.numSections = static_cast<uint8_t>(sections.size());
    if (validateSections(session, sections, numRepeats, record) != 0) return -1;

    std::deque<ScanConfig> candidate = session.scanConfigs;
    if (position >= 0)
        candidate[static_cast<size_t>(position)] = record;
    else
        candidate.push_back(record);
    if (!saveList(session, candidate, static_cast<uint8_t>(session.activeScanIndex))) {
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    session.scanConfigs = std::move(candidate);
    QUILLON_LOG(session, "setTargetLists", LOG_ERROR, "Set target Configuration success");
    lastErrorCode = kNoError;
    return 0;
}

int removeTargetCfg(SpectrometerSession& session, const std::string& name) {
    int position = findConfig(session.scanConfigs, name);
    if (position < 0) {
        QUILLON_LOG(session, "removeTargetCfg", LOG_ERROR, "Scan configuration name not found");
        lastErrorCode = kParamInError;
        return -1;
    }
    if (!listIsSavable(session, "removeTargetCfg")) return -1;
    std::deque<ScanConfig> candidate = session.scanConfigs;
    candidate.erase(candidate.begin() + position);
    // The same configuration stays active; when it is the one removed, the
    // first one becomes active.
    int active = session.activeScanIndex;
    if (active > position)
        --active;
    else if (active == position)
        active = 0;
    if (!saveList(session, candidate, static_cast<uint8_t>(active))) {
        lastErrorCode = kDeviceReturnError;
        return -1;
    }
    session.scanConfigs = std::move(candidate);
    session.activeScanIndex = static_cast<int8_t>(active);
    session.targetConfigs.erase(name);
    QUILLON_LOG(session, "removeTargetCfg", INFO, "Remove scan configuration success");
    lastErrorCode = kNoError;
    return 0;
}

}  // namespace quillon
