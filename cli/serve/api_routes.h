// The JSON API under /api/: each request's fields checked and turned into a
// call of the module service or the measurement, each outcome into a reply.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "module_service.h"
#include "reply.h"

namespace quillon::cli::serve {

struct ApiRequest {
    std::string method;                        // "GET" or "POST"
    std::string path;                          // "/api/scan"
    std::map<std::string, std::string> query;  // decoded
    std::string body;
};

// The JSON object a POST carries, or why it is refused: it must be one
// object and nothing after it (a NUL would otherwise end it early).
std::optional<Json> bodyObject(const std::string& body, std::string& why);

class ApiRoutes {
  public:
    explicit ApiRoutes(ModuleService& module) : module_(module) {}

    // Answers a request under /api/ other than the event stream; `done` is
    // called once, on this thread or on the module's.
    void handle(const ApiRequest& request, const std::function<void(Reply)>& done);

  private:
    void post(const std::string& path, const Json& body, const std::function<void(Reply)>& done);
    Reply addConfiguration(const Json& body, const std::function<void(Reply)>& done);
    Reply loadFile(const std::string& path, const Json& body);

    ModuleService& module_;
};

}  // namespace quillon::cli::serve
