// Readers for what quillon writes, strict enough that a malformed document
// fails the test: JSON through the project's JSON library, and a check that
// XML tags nest.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quillon::test {

using Json = nlohmann::json;

// False when `text` is not exactly one JSON value.
bool parseJson(const std::string& text, Json& out);
// One root element whose tags all close in order.
bool xmlNests(const std::string& text);

}  // namespace quillon::test
