// The HTTP side of `quillon serve`: the embedded page, the JSON API under
// /api/, the event stream, and the bounds every connection lives within
// before anything it sends is looked at: header bytes, a deadline for the
// header, body bytes (declared or chunked), the number of connections. One
// thread serves every connection without waiting on any; the module's work
// runs on the module's thread and its replies come back here.
#pragma once

#include <memory>
#include <string>

#include "access_guard.h"
#include "api_routes.h"

namespace quillon::cli::serve {

class WebServer {
  public:
    explicit WebServer(ApiRoutes& api);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds to address:port (0: a free port). The bound port, or -1.
    int bind(const std::string& address, int port);
    // Answers requests until stop(); each request is checked by `guard`.
    void serve(const AccessGuard& guard);
    // From any thread: closes the listening socket and every connection;
    // serve() returns at once.
    void stop();

    struct Impl;  // the listener and the open connections

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::cli::serve
