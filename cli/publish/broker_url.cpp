#include "broker_url.h"

#include "arguments.h"

namespace quillon::cli::publish {

std::optional<std::string> parseBrokerUrl(const std::string& url, BrokerSettings& out) {
    std::string rest;
    if (url.rfind("mqtt://", 0) == 0) {
        out.tls = false;
        out.port = 1883;
        rest = url.substr(7);
    } else if (url.rfind("mqtts://", 0) == 0) {
        out.tls = true;
        out.port = 8883;
        rest = url.substr(8);
    } else {
        return "--broker needs mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not '" + url + "'";
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string portText;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return "--broker: no ']' after the IPv6 address";
        out.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return "--broker: unexpected text after ']'";
            hasPort = true;
            portText = rest.substr(close + 2);
        }
    } else {
        const size_t colon = rest.find(':');
        out.host = rest.substr(0, colon);
        hasPort = colon != std::string::npos;
        if (hasPort) portText = rest.substr(colon + 1);
    }
    if (out.host.empty() || out.host.find_first_of("/?#@ ") != std::string::npos)
        return "--broker: no host name in '" + url + "'";
    if (hasPort) {
        unsigned long port = 0;
        if (!parseUnsigned(portText, 1, 65535, port))
            return "--broker: the port must be from 1 to 65535, not '" + portText + "'";
        out.port = static_cast<int>(port);
    }
    return std::nullopt;
}

}  // namespace quillon::cli::publish
