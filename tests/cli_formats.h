// Readers for what quillon writes, strict enough that a malformed document
// fails the test: a small JSON parser and an XML well-formedness check.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quillon::test {

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    double number = 0;
    bool boolean = false;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;

    const Json& operator[](const std::string& key) const;  // Null when absent
    std::vector<double> numbers() const;                   // an array of numbers
};

// False (with the position in `error`) when `text` is not one JSON value.
bool parseJson(const std::string& text, Json& out, std::string& error);

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;  // entities decoded
    std::string text;                               // character data directly inside
    std::vector<std::shared_ptr<XmlElement>> children;
};

// One root element, properly nested, quoted attributes, known entities only.
bool parseXml(const std::string& text, XmlElement& root, std::string& error);
// Every element named `name` below (and including) `root`, in document order.
std::vector<const XmlElement*> findAll(const XmlElement& root, const std::string& name);

}  // namespace quillon::test
