#include "cli_formats.h"

#include <cctype>
#include <cstdlib>
#include <functional>

namespace quillon::test {
namespace {

struct Cursor {
    const std::string& s;
    size_t i = 0;
    void skip() {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    }
    bool eat(char c) {
        skip();
        if (i < s.size() && s[i] == c) return ++i, true;
        return false;
    }
    bool literal(const char* word) {
        const std::string w = word;
        if (s.compare(i, w.size(), w) != 0) return false;
        i += w.size();
        return true;
    }
};

bool jsonString(Cursor& c, std::string& out) {
    if (!c.eat('"')) return false;
    while (c.i < c.s.size() && c.s[c.i] != '"') {
        char ch = c.s[c.i++];
        if (static_cast<unsigned char>(ch) < 0x20) return false;
        if (ch == '\\') {
            if (c.i >= c.s.size()) return false;
            char e = c.s[c.i++];
            const std::string simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
            if (size_t k = simple.find(e); k != std::string::npos) {
                out += meaning[k];
            } else if (e == 'u' && c.i + 4 <= c.s.size()) {
                out += static_cast<char>(std::strtol(c.s.substr(c.i, 4).c_str(), nullptr, 16));
                c.i += 4;
            } else {
                return false;
            }
        } else {
            out += ch;
        }
    }
    return c.eat('"');
}

bool jsonValue(Cursor& c, Json& out) {
    c.skip();
    if (c.i >= c.s.size()) return false;
    const char ch = c.s[c.i];
    if (ch == '{') {
        out.kind = Json::Object;
        ++c.i;
        if (c.eat('}')) return true;
        do {
            std::string key;
            Json value;
            if (!jsonString(c, key) || !c.eat(':') || !jsonValue(c, value)) return false;
            out.members[key] = std::move(value);
        } while (c.eat(','));
        return c.eat('}');
    }
    if (ch == '[') {
        out.kind = Json::Array;
        ++c.i;
        if (c.eat(']')) return true;
        do {
            out.items.emplace_back();
            if (!jsonValue(c, out.items.back())) return false;
        } while (c.eat(','));
        return c.eat(']');
    }
    if (ch == '"') return out.kind = Json::String, jsonString(c, out.text);
    if (c.literal("null")) return out.kind = Json::Null, true;
    if (c.literal("true")) return out.kind = Json::Bool, out.boolean = true, true;
    if (c.literal("false")) return out.kind = Json::Bool, true;
    const char* begin = c.s.c_str() + c.i;
    char* end = nullptr;
    out.number = std::strtod(begin, &end);
    if (end == begin || begin[0] == '+' || begin[0] == '.') return false;
    c.i += static_cast<size_t>(end - begin);
    out.kind = Json::Number;
    return true;
}

bool decodeEntities(const std::string& raw, std::string& out) {
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '<') return false;
        if (raw[i] != '&') {
            out += raw[i];
            continue;
        }
        const size_t semi = raw.find(';', i);
        if (semi == std::string::npos) return false;
        const std::string name = raw.substr(i + 1, semi - i - 1);
        const std::map<std::string, char> known = {
            {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
        auto it = known.find(name);
        if (it == known.end()) return false;
        out += it->second;
        i = semi;
    }
    return true;
}

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':' ||
           c == '.';
}

}  // namespace

const Json& Json::operator[](const std::string& key) const {
    static const Json none;
    auto it = members.find(key);
    return it == members.end() ? none : it->second;
}

std::vector<double> Json::numbers() const {
    std::vector<double> out;
    for (const Json& item : items)
        if (item.kind == Number) out.push_back(item.number);
    return out;
}

bool parseJson(const std::string& text, Json& out, std::string& error) {
    Cursor c{text};
    if (!jsonValue(c, out)) {
        error = "bad JSON near byte " + std::to_string(c.i);
        return false;
    }
    c.skip();
    if (c.i != text.size()) {
        error = "trailing bytes after JSON at " + std::to_string(c.i);
        return false;
    }
    return true;
}

bool parseXml(const std::string& text, XmlElement& root, std::string& error) {
    size_t i = 0;
    if (text.compare(0, 5, "<?xml") == 0) {
        i = text.find("?>");
        if (i == std::string::npos) return error = "unterminated XML declaration", false;
        i += 2;
    }
    std::vector<XmlElement*> open;
    bool rootDone = false;
    auto fail = [&](const std::string& why) {
        error = why + " at byte " + std::to_string(i);
        return false;
    };
    while (i < text.size()) {
        const size_t lt = text.find('<', i);
        const std::string chars = text.substr(i, (lt == std::string::npos ? text.size() : lt) - i);
        std::string decoded;
        if (!decodeEntities(chars, decoded)) return fail("bad character data");
        if (open.empty()) {
            if (decoded.find_first_not_of(" \t\r\n") != std::string::npos)
                return fail("text outside the root");
        } else {
            open.back()->text += decoded;
        }
        if (lt == std::string::npos) break;
        i = lt + 1;
        if (text.compare(i, 3, "!--") == 0) {
            const size_t end = text.find("-->", i);
            if (end == std::string::npos) return fail("unterminated comment");
            i = end + 3;
            continue;
        }
        const bool closing = i < text.size() && text[i] == '/';
        if (closing) ++i;
        const size_t nameBegin = i;
        while (i < text.size() && isNameChar(text[i])) ++i;
        const std::string name = text.substr(nameBegin, i - nameBegin);
        if (name.empty()) return fail("tag without a name");
        if (closing) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i >= text.size() || text[i] != '>') return fail("bad closing tag");
            ++i;
            if (open.empty() || open.back()->name != name)
                return fail("</" + name + "> closes nothing");
            open.pop_back();
            if (open.empty()) rootDone = true;
            continue;
        }
        if (rootDone) return fail("second root element");
        auto element = std::make_shared<XmlElement>();
        element->name = name;
        for (;;) {
            while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
            if (i >= text.size()) return fail("unterminated tag");
            if (text[i] == '>' || text.compare(i, 2, "/>") == 0) break;
            const size_t attrBegin = i;
            while (i < text.size() && isNameChar(text[i])) ++i;
            const std::string attr = text.substr(attrBegin, i - attrBegin);
            if (attr.empty() || i >= text.size() || text[i] != '=') return fail("bad attribute");
            ++i;
            if (i >= text.size() || (text[i] != '"' && text[i] != '\''))
                return fail("unquoted attribute");
            const char quote = text[i++];
            const size_t end = text.find(quote, i);
            if (end == std::string::npos) return fail("unterminated attribute");
            std::string value;
            if (!decodeEntities(text.substr(i, end - i), value)) return fail("bad attribute value");
            if (!element->attributes.emplace(attr, value).second) return fail("attribute twice");
            i = end + 1;
        }
        const bool empty = text[i] == '/';
        i += empty ? 2 : 1;
        XmlElement* raw = element.get();
        if (open.empty()) {
            root = *element;
            raw = &root;
        } else {
            open.back()->children.push_back(element);
        }
        if (!empty)
            open.push_back(raw);
        else if (open.empty())
            rootDone = true;
    }
    if (!open.empty()) return error = "<" + open.back()->name + "> never closed", false;
    if (!rootDone) return error = "no root element", false;
    return true;
}

std::vector<const XmlElement*> findAll(const XmlElement& root, const std::string& name) {
    std::vector<const XmlElement*> found;
    std::function<void(const XmlElement&)> walk = [&](const XmlElement& e) {
        if (e.name == name) found.push_back(&e);
        for (const auto& child : e.children) walk(*child);
    };
    walk(root);
    return found;
}

}  // namespace quillon::test
