// Who may use the server: the holder of the session's token, from a page of
// this server only. A web page elsewhere in the same browser can make the
// browser send requests here; the Host and Origin checks refuse those (DNS
// rebinding, cross-site requests), the token refuses everyone else.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::cli::serve {

// 128 random bits from the kernel as 32 hex digits; empty when none can be had.
std::string freshToken();

// Equal texts, in a time that depends on the lengths only.
bool sameText(const std::string& a, const std::string& b);

class AccessGuard {
  public:
    // `hosts` are the accepted Host values without the port; `anyAddress`
    // also accepts any literal IP address (a server bound to every interface).
    AccessGuard(std::string token, int port, std::vector<std::string> hosts, bool anyAddress);

    const std::string& token() const { return token_; }
    // Cookies are shared between the ports of a host: the name tells servers apart.
    std::string cookieName() const { return "quillon_token_" + std::to_string(port_); }

    // Why a request with these Host and Origin values is refused (403), if it is.
    std::optional<std::string> refuseOrigin(const std::string& host,
                                            const std::optional<std::string>& origin) const;
    // The token from "Authorization: Bearer T" or from this server's cookie.
    bool authorized(const std::string& authorization, const std::string& cookies) const;

  private:
    bool hostAccepted(const std::string& host) const;

    std::string token_;
    int port_;
    std::vector<std::string> hosts_;
    bool anyAddress_;
};

}  // namespace quillon::cli::serve
