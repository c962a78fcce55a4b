// The JSON API under /api/: each request's fields checked and turned into a
// call of the module service or the measurement, each outcome into a reply.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

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
    // The modules served, in the order of `quillon list`.
    explicit ApiRoutes(std::vector<ModuleService*> modules) : modules_(std::move(modules)) {}

    // The module a request names with "?module=N" (0 when it names none);
    // null when there is no such module.
    ModuleService* moduleOf(const std::map<std::string, std::string>& query) const;
    // Answers a request under /api/ other than the event stream; `done` is
    // called once, on this thread or on the module's.
    void handle(const ApiRequest& request, const std::function<void(Reply)>& done);

  private:
    void get(ModuleService& module, const ApiRequest& request,
             const std::function<void(Reply)>& done);
    void post(ModuleService& module, const std::string& path, const Json& body,
              const std::function<void(Reply)>& done);
    Reply addConfiguration(ModuleService& module, const Json& body,
                           const std::function<void(Reply)>& done);
    Reply loadFile(ModuleService& module, const std::string& path, const Json& body);

    std::vector<ModuleService*> modules_;
};

}  // namespace quillon::cli::serve
