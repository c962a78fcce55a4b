#include "access_guard.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <algorithm>
#include <cstdio>

namespace quillon::cli::serve {
namespace {

bool isAddressLiteral(const std::string& host) {
    unsigned char buffer[16];
    if (inet_pton(AF_INET, host.c_str(), buffer) == 1) return true;
    return host.size() > 2 && host.front() == '[' && host.back() == ']' &&
           inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), buffer) == 1;
}

}  // namespace

std::string freshToken() {
    unsigned char bytes[16];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n <= 0) return "";
        got += static_cast<size_t>(n);
    }
    std::string text;
    char hex[3];
    for (unsigned char b : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", b);
        text += hex;
    }
    return text;
}

bool sameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    volatile unsigned char difference = 0;
    for (size_t i = 0; i < a.size(); ++i)
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

AccessGuard::AccessGuard(std::string token, int port, std::vector<std::string> hosts,
                         bool anyAddress)
    : token_(std::move(token)), port_(port), hosts_(std::move(hosts)), anyAddress_(anyAddress) {}

bool AccessGuard::hostAccepted(const std::string& host) const {
    const std::string suffix = ":" + std::to_string(port_);
    if (host.size() <= suffix.size() || !host.ends_with(suffix)) return false;
    std::string name = host.substr(0, host.size() - suffix.size());
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (std::find(hosts_.begin(), hosts_.end(), name) != hosts_.end()) return true;
    return anyAddress_ && isAddressLiteral(name);
}

std::optional<std::string> AccessGuard::refuseOrigin(
    const std::string& host, const std::optional<std::string>& origin) const {
    if (!hostAccepted(host)) return "the Host '" + host + "' is not this server's address";
    if (origin && !sameText(*origin, "http://" + host))
        return "requests from the page '" + *origin + "' are not accepted";
    return std::nullopt;
}

bool AccessGuard::authorized(const std::string& authorization, const std::string& cookies) const {
    const std::string bearer = "Bearer ";
    if (authorization.rfind(bearer, 0) == 0)
        return sameText(authorization.substr(bearer.size()), token_);
    const std::string key = cookieName() + "=";
    size_t at = 0;
    while (at < cookies.size()) {
        size_t end = cookies.find(';', at);
        if (end == std::string::npos) end = cookies.size();
        size_t begin = cookies.find_first_not_of(' ', at);
        if (begin != std::string::npos && begin < end &&
            cookies.compare(begin, key.size(), key) == 0)
            return sameText(cookies.substr(begin + key.size(), end - begin - key.size()), token_);
        at = end + 1;
    }
    return false;
}

}  // namespace quillon::cli::serve
