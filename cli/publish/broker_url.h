// Where the broker is and how to reach it, from the command line.
#pragma once

#include <optional>
#include <string>

namespace quillon::cli::publish {

struct BrokerSettings {
    std::string host;
    int port = 1883;
    bool tls = false;
    std::string caFile;  // with tls
    std::string username;
    std::string password;
    int keepaliveSeconds = 30;
};

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" (IPv6 as [ADDR]) into `out`;
// the explanation when the text is not one.
std::optional<std::string> parseBrokerUrl(const std::string& url, BrokerSettings& out);

}  // namespace quillon::cli::publish
