#include "config/list_store.h"

#include <cmath>
#include <cstring>

#include "config/editing.h"
#include "config/model.h"
#include "config/retrieval.h"
#include "config/table_values.h"
#include "config/tables.h"

namespace quillon {
namespace {

Outcome refuse(Module& module, size_t index, const std::string& why) {
    module.refusal = "configuration " + std::to_string(index) + ": " + why;
    QUILLON_LOG(module, "storeConfigList", LOG_ERROR, module.refusal);
    return failed(Kind::InvalidArgument, kParamInError);
}

// The sections of a decoded record as a caller states them; false when one
// lies outside the tables (no caller could have stated it).
bool sectionsOfRecord(const ScanConfig& record, std::vector<TargetSection>& out) {
    const SectionList list = sectionsOf(record);
    for (int s = 0; s < list.count; ++s) {
        const ScanSection& section = list.sections[s];
        if (!sectionInTables(section)) return false;
        out.push_back({section.sectionScanType == 0 ? "Column" : "Hadamard",
                       widthValueOf(section.widthPixels), section.wavelengthStartNm,
                       section.wavelengthEndNm, section.numPatterns,
                       exposureMsOf(section.exposureTime)});
    }
    return true;
}

bool sameSections(const std::vector<TargetSection>& a, const std::vector<TargetSection>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].typeName != b[i].typeName || std::fabs(a[i].width - b[i].width) > 1e-7 ||
            a[i].wavelengthStartNm != b[i].wavelengthStartNm ||
            a[i].wavelengthEndNm != b[i].wavelengthEndNm || a[i].numPatterns != b[i].numPatterns ||
            std::fabs(a[i].exposure - b[i].exposure) > 1e-7)
            return false;
    }
    return true;
}

Outcome recordOf(Module& module, size_t index, const ConfigToStore& given, ScanConfig& record) {
    if (given.record.empty()) {
        if (given.name.empty() || given.name.size() >= kConfigNameSize ||
            given.name.find('\0') != std::string::npos)
            return refuse(module, index, "a name of 1 to 39 bytes is needed");
        if (given.sections.empty() || given.sections.size() > kMaxSections)
            return refuse(module, index, "one to five sections are needed");
        record = ScanConfig{};
        std::memcpy(record.configName, given.name.data(), given.name.size());
        record.scanType = kSectionedScanType;
        record.sectioned.numRepeats = given.repeats;
        record.sectioned.numSections = static_cast<uint8_t>(given.sections.size());
        const Outcome valid = checkSections(module, given.sections, given.repeats, record);
        if (!valid.ok()) return refuse(module, index, module.refusal);
        return succeeded();
    }
    // A record is stored as given, so it must be one the module would store
    // byte for byte the same, and pass the checks its sections would.
    std::vector<uint8_t> again;
    if (decodeScanConfig(given.record.data(), given.record.size(), record) != RecordStatus::Ok ||
        configNameOf(record).empty())
        return refuse(module, index, "the record is not a configuration record");
    size_t size = 0;
    if (scanConfigImageSize(record, size) != RecordStatus::Ok || size != given.record.size())
        return refuse(module, index, "the record does not encode back to itself");
    again.resize(size);
    if (encodeScanConfig(record, again.data(), size) != RecordStatus::Ok || again != given.record)
        return refuse(module, index, "the record does not encode back to itself");
    std::vector<TargetSection> sections;
    if (!sectionsOfRecord(record, sections))
        return refuse(module, index, "the record holds a section outside the tables");
    const uint16_t repeats = record.scanType == kSectionedScanType ? record.sectioned.numRepeats
                                                                   : record.single.numRepeats;
    if (given.hasFields && (std::string(configNameOf(record)) != given.name ||
                            repeats != given.repeats || !sameSections(sections, given.sections)))
        return refuse(module, index,
                      "the record and the name, sections or repeat count beside it differ");
    ScanConfig scratch{};
    scratch.scanType = kSectionedScanType;
    scratch.sectioned.numRepeats = repeats;
    scratch.sectioned.numSections = static_cast<uint8_t>(sections.size());
    if (!checkSections(module, sections, repeats, scratch).ok())
        return refuse(module, index, module.refusal);
    return succeeded();
}

}  // namespace

Outcome storeConfigList(Module& module, const std::vector<ConfigToStore>& configs, bool replace,
                        size_t active) {
    module.refusal.clear();
    std::deque<ScanConfig> candidate = replace ? std::deque<ScanConfig>{} : module.scanConfigs;
    for (size_t i = 0; i < configs.size(); ++i) {
        ScanConfig record{};
        if (const Outcome made = recordOf(module, i, configs[i], record); !made.ok()) return made;
        candidate.push_back(record);
    }
    if (candidate.size() > kMaxStoredConfigs) {
        module.refusal =
            "the module stores at most 20 configurations, not " + std::to_string(candidate.size());
        return failed(Kind::InvalidArgument, kParamInError);
    }
    const size_t activeIndex = replace ? active : static_cast<uint8_t>(module.activeScanIndex);
    if (replace && activeIndex >= std::max<size_t>(candidate.size(), 1)) {
        module.refusal = "the active position must name one of the configurations stored";
        return failed(Kind::InvalidArgument, kParamInError);
    }
    if (const Outcome saved = saveWholeList(module, candidate, static_cast<uint8_t>(activeIndex));
        !saved.ok())
        return saved;
    module.scanConfigs = std::move(candidate);
    module.activeScanIndex = static_cast<int8_t>(activeIndex);
    rebuildTargetConfigs(module);
    return succeeded();
}

bool storedRecord(const Module& module, size_t position, std::vector<uint8_t>& record) {
    if (position >= module.scanConfigs.size()) return false;
    size_t size = 0;
    const ScanConfig& config = module.scanConfigs[position];
    if (scanConfigImageSize(config, size) != RecordStatus::Ok) return false;
    record.resize(size);
    return encodeScanConfig(config, record.data(), size) == RecordStatus::Ok;
}

}  // namespace quillon
