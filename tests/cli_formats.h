// Readers for what quillon writes, strict enough that a malformed document
// fails the test: a small JSON parser and a check that XML tags nest.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace quillon::test {

struct Json {
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const;  // empty when absent
    std::vector<double> numbers() const;                   // of an array of numbers
};

// False when `text` is not exactly one JSON value.
bool parseJson(const std::string& text, Json& out);
// One root element whose tags all close in order.
bool xmlNests(const std::string& text);

}  // namespace quillon::test
