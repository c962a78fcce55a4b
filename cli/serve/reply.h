// What the server answers: a status, a body and its type, and a file name
// when the body is offered as a download.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace quillon::cli::serve {

using Json = nlohmann::json;

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::string fileName;
};

inline Reply jsonReply(const Json& body, int status = 200) {
    return Reply{status, body.dump(-1, ' ', false, Json::error_handler_t::replace),
                 "application/json", ""};
}

inline Reply errorReply(int status, const std::string& text) {
    return jsonReply({{"error", text}}, status);
}

}  // namespace quillon::cli::serve
