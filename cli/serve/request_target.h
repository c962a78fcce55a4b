// A request's target taken apart: the path, the query's decoded fields, and
// the path as it may appear in the log (decoded, the token hidden, no
// control characters).
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace quillon::cli::serve {

struct RequestTarget {
    std::string path;  // as sent, without the query
    std::map<std::string, std::string> query;
};

RequestTarget splitTarget(std::string_view target);
// %XX and, where `plusIsSpace`, '+' decoded; a malformed escape stays as it is.
std::string percentDecode(std::string_view text, bool plusIsSpace);
// `text` decoded, every occurrence of `secret` replaced by "<token>", bytes
// outside printable ASCII as \xNN, at most 200 characters.
std::string loggable(std::string_view text, const std::string& secret);

}  // namespace quillon::cli::serve
