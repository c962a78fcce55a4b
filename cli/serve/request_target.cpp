#include "request_target.h"

#include <cstdio>

namespace quillon::cli::serve {
namespace {

constexpr size_t kMaxLogged = 200;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string percentDecode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
            hexDigit(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2])));
            i += 2;
        } else {
            out.push_back(plusIsSpace && c == '+' ? ' ' : c);
        }
    }
    return out;
}

RequestTarget splitTarget(std::string_view target) {
    RequestTarget out;
    const size_t question = target.find('?');
    out.path = std::string(target.substr(0, question));
    if (question == std::string_view::npos) return out;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view field = query.substr(0, amp);
        const size_t eq = field.find('=');
        std::string key = percentDecode(field.substr(0, eq), true);
        std::string value =
            eq == std::string_view::npos ? "" : percentDecode(field.substr(eq + 1), true);
        if (!key.empty()) out.query.emplace(std::move(key), std::move(value));
        if (amp == std::string_view::npos) break;
        query.remove_prefix(amp + 1);
    }
    return out;
}

std::string loggable(std::string_view text, const std::string& secret) {
    std::string decoded = percentDecode(text, false);
    if (!secret.empty())
        for (size_t at = decoded.find(secret); at != std::string::npos;
             at = decoded.find(secret, at))
            decoded.replace(at, secret.size(), "<token>");
    std::string out;
    for (const char c : decoded) {
        if (out.size() >= kMaxLogged) {
            out += "...";
            break;
        }
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            out.push_back(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        }
    }
    return out;
}

}  // namespace quillon::cli::serve
