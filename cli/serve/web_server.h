// The HTTP side of `quillon serve`: the embedded page, the JSON API under
// /api/, the event stream, and the checks every request passes first.
#pragma once

#include <memory>
#include <string>

#include "access_guard.h"
#include "event_hub.h"
#include "module_service.h"

namespace httplib {
class Server;
}

namespace quillon::cli::serve {

class WebServer {
  public:
    WebServer(ModuleService& module, EventHub& events);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Binds to address:port (0: a free port). The bound port, or -1.
    int bind(const std::string& address, int port);
    // Answers requests until stop(); each request is checked by `guard`.
    void serve(const AccessGuard& guard);
    // From any thread; serve() returns once open requests have ended.
    void stop();

  private:
    void addRoutes(const AccessGuard& guard);

    ModuleService& module_;
    EventHub& events_;
    std::unique_ptr<httplib::Server> server_;
};

}  // namespace quillon::cli::serve
