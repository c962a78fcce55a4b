#include "section_values.h"

#include <strings.h>
#include <cmath>
#include <cstdio>
#include <map>

#include "arguments.h"
#include "quillonlib.h"

namespace quillon::cli {
namespace {

// The library matches widths and exposure times to its tables this closely.
constexpr double kTableTolerance = 1e-7;

const char* const kKeys[] = {"type", "start", "end", "width", "patterns", "exposure"};

std::string formatValue(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::optional<unsigned> scanTypeNamed(const std::string& name) {
    for (int type = 0; type < getScanTypesNumber(); ++type) {
        const char* known = getScanTypesName(type);
        if (known != nullptr && strcasecmp(known, name.c_str()) == 0)
            return static_cast<unsigned>(type);
    }
    return std::nullopt;
}

std::optional<unsigned> widthIndexOf(double value) {
    const unsigned count = getWidthPixelsNumber();
    for (unsigned i = 0; i < count; ++i)
        if (std::fabs(getWidthPixel(static_cast<int>(i)) - value) < kTableTolerance) return i;
    return std::nullopt;
}

std::optional<unsigned> exposureIndexOf(double value) {
    const unsigned count = getExposureTimesNumber();
    for (unsigned i = 0; i < count; ++i)
        if (std::fabs(getExposureTime(static_cast<int>(i)) - value) < kTableTolerance) return i;
    return std::nullopt;
}

std::string nearestWidths(double value) {
    const int count = static_cast<int>(getWidthPixelsNumber());
    int above = 0;
    while (above < count && getWidthPixel(above) < value) ++above;
    std::string text;
    for (int i : {above - 1, above}) {
        if (i < 0 || i >= count) continue;
        if (!text.empty()) text += " and ";
        text += formatValue(getWidthPixel(i), "%.2f") + " (" + std::to_string(i + 2) + " px)";
    }
    return "nearest: " + text + "; `quillon limits` lists them all";
}

std::string exposureChoices() {
    std::string text;
    const unsigned count = getExposureTimesNumber();
    for (unsigned i = 0; i < count; ++i)
        text += (i == 0 ? "" : ", ") + formatValue(getExposureTime(static_cast<int>(i)), "%g");
    return text;
}

std::optional<std::string> checkRange(unsigned startNm, unsigned endNm) {
    if (startNm < kMinWavelengthNm || startNm > kMaxWavelengthNm)
        return "start wavelength " + std::to_string(startNm) + " nm is outside 900 to 1700 nm";
    if (endNm < kMinWavelengthNm || endNm > kMaxWavelengthNm)
        return "end wavelength " + std::to_string(endNm) + " nm is outside 900 to 1700 nm";
    if (startNm > endNm)
        return "start wavelength " + std::to_string(startNm) + " nm is above the end " +
               std::to_string(endNm) + " nm";
    return std::nullopt;
}

std::optional<std::string> parseSection(const std::string& text, SectionRequest& out) {
    std::map<std::string, std::string> fields;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t comma = text.find(',', begin);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(begin, comma - begin);
        begin = comma + 1;
        if (item.empty()) continue;
        const size_t eq = item.find('=');
        if (eq == std::string::npos) return "'" + item + "' is not KEY=VALUE";
        const std::string key = item.substr(0, eq);
        bool known = false;
        for (const char* k : kKeys) known = known || key == k;
        if (!known)
            return "unknown key '" + key + "' (keys: type, start, end, width, patterns, exposure)";
        if (!fields.emplace(key, item.substr(eq + 1)).second)
            return "key '" + key + "' given twice";
    }
    return sectionFromFields(fields, out);
}

std::optional<std::string> sectionFromFields(const std::map<std::string, std::string>& given,
                                             SectionRequest& out) {
    std::map<std::string, std::string> fields = given;
    for (const char* key : kKeys)
        if (fields.find(key) == fields.end()) return std::string("missing ") + key + "=...";

    SectionRequest section;
    std::optional<unsigned> type = scanTypeNamed(fields["type"]);
    if (!type) return "unknown scan type '" + fields["type"] + "' (Column or Hadamard)";
    section.scanType = *type;
    section.type = getScanTypesName(static_cast<int>(*type));

    unsigned long start = 0, end = 0;
    if (!parseUnsigned(fields["start"], 0, 65535, start))
        return "start '" + fields["start"] + "' is not a wavelength in whole nanometres";
    if (!parseUnsigned(fields["end"], 0, 65535, end))
        return "end '" + fields["end"] + "' is not a wavelength in whole nanometres";
    section.startNm = static_cast<unsigned>(start);
    section.endNm = static_cast<unsigned>(end);
    if (auto why = checkRange(section.startNm, section.endNm)) return why;

    if (!parseFiniteDouble(fields["width"], section.width))
        return "width '" + fields["width"] + "' is not a number";
    std::optional<unsigned> widthIndex = widthIndexOf(section.width);
    if (!widthIndex)
        return "width " + fields["width"] + " is not a pattern width; " +
               nearestWidths(section.width);
    section.width = getWidthPixel(static_cast<int>(*widthIndex));
    section.widthPixels = *widthIndex + 2;

    unsigned int minPatterns = 0, maxPatterns = 0;
    getPatternsRange(&minPatterns, &maxPatterns);
    unsigned long patterns = 0;
    if (!parseUnsigned(fields["patterns"], minPatterns, maxPatterns, patterns))
        return "patterns '" + fields["patterns"] + "' is not a count from " +
               std::to_string(minPatterns) + " to " + std::to_string(maxPatterns);
    section.patterns = static_cast<unsigned>(patterns);

    if (!parseFiniteDouble(fields["exposure"], section.exposure))
        return "exposure '" + fields["exposure"] + "' is not a number";
    std::optional<unsigned> exposureIndex = exposureIndexOf(section.exposure);
    if (!exposureIndex)
        return "exposure " + fields["exposure"] +
               " is not an exposure time; valid times: " + exposureChoices();
    section.exposure = getExposureTime(static_cast<int>(*exposureIndex));

    out = section;
    return std::nullopt;
}

std::optional<std::string> checkSections(const std::vector<SectionRequest>& sections) {
    if (sections.empty()) return std::string("a configuration needs at least one section");
    if (sections.size() > kMaxSections)
        return std::to_string(sections.size()) + " sections given; a configuration has at most 5";
    unsigned int minimum = 0, maximum = 0;
    getPatternsRange(&minimum, &maximum);
    unsigned total = 0;
    for (const SectionRequest& section : sections) total += section.patterns;
    if (total > maximum)
        return "the sections hold " + std::to_string(total) +
               " patterns together; a configuration has at most " + std::to_string(maximum);
    return std::nullopt;
}

std::optional<std::string> checkConfigName(const std::string& name) {
    if (name.empty()) return "a configuration needs a name";
    if (name.size() > kMaxNameBytes)
        return "configuration name is " + std::to_string(name.size()) +
               " bytes long; the module keeps at most " + std::to_string(kMaxNameBytes);
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7f) return "configuration name holds a control character";
    return std::nullopt;
}

}  // namespace quillon::cli
