// Readers for what quillon writes, strict enough that a malformed document
// fails the test: JSON through the project's JSON library, JCAMP-DX read by
// the format's own rules, and a check that XML tags nest.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

using Json = nlohmann::json;

// False when `text` is not exactly one JSON value.
bool parseJson(const std::string& text, Json& out);
struct Jcamp {
    // Labelled data records in file order: the label in its normal form
    // (upper case, without spaces, '-', '/' and '_') and the value text,
    // its continuation lines joined by spaces.
    std::vector<std::pair<std::string, std::string>> records;
    std::vector<double> x, y;  // XYPOINTS times XFACTOR and YFACTOR; NaN for '?'
    std::string value(const std::string& label) const;  // of the first such record
};

// False when a rule is broken: not ##TITLE first or ##END last, or data
// that are not whole X, Y pairs of numbers after ##XYPOINTS=(XY..XY).
bool parseJcamp(const std::string& text, Jcamp& out);
// One root element whose tags all close in order.
bool xmlNests(const std::string& text);

}  // namespace quillon::test
