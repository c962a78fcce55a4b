// The values a user gives for a scan section, checked against the library's
// own tables before anything is sent to the module.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillon::cli {

constexpr unsigned kMinWavelengthNm = 900;
constexpr unsigned kMaxWavelengthNm = 1700;
constexpr unsigned kMaxSections = 5;
constexpr size_t kMaxNameBytes = 39;  // the module keeps 40 bytes with the NUL

struct SectionRequest {
    std::string type;  // as the library names it: "Column" or "Hadamard"
    unsigned scanType = 0;
    unsigned startNm = 0;
    unsigned endNm = 0;
    double width = 0;
    unsigned widthPixels = 0;
    unsigned patterns = 0;
    double exposure = 0;
};

// The library's scan type for a name, in any letter case; nothing if unknown.
std::optional<unsigned> scanTypeNamed(const std::string& name);
// Position of `value` in the width table (a width of index + 2 pixels).
std::optional<unsigned> widthIndexOf(double value);
std::optional<unsigned> exposureIndexOf(double value);

// For error messages: the table widths nearest to `value`, and all exposure times.
std::string nearestWidths(double value);
std::string exposureChoices();

// Checks a wavelength range; the reason when it is not acceptable.
std::optional<std::string> checkRange(unsigned startNm, unsigned endNm);

// Parses "type=Hadamard,start=900,end=1700,width=7.03,patterns=120,exposure=0.635".
// Every key is needed once. Returns the reason when the text or a value is wrong.
std::optional<std::string> parseSection(const std::string& text, SectionRequest& out);
// The same checks on values already split by key (the six keys above, as texts).
std::optional<std::string> sectionFromFields(const std::map<std::string, std::string>& fields,
                                             SectionRequest& out);
// One to five sections of at most the configuration's pattern count together.
std::optional<std::string> checkSections(const std::vector<SectionRequest>& sections);

// Checks a configuration name; the reason when it cannot be stored.
std::optional<std::string> checkConfigName(const std::string& name);

}  // namespace quillon::cli
