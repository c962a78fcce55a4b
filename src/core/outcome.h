// What an operation reports when it ends: the kind of result the library's own
// interface hands out, and the failure code the 29 exports leave behind for
// getLastException. Operations never touch that code themselves; the export
// wrapper stores it from here, in one place.
#pragma once

#include <cstdint>

#include "core/errors.h"

namespace quillon {

// Numbered as quillon_result in quillon.h, so one converts to the other.
enum class Kind : int32_t {
    Ok = 0,
    NotFound,
    Busy,
    AccessDenied,
    Timeout,
    Disconnected,
    Refused,
    InvalidArgument,
    BufferTooSmall,
    Cancelled,
    NoHidLayer,
    NoMemory,
    NoConfiguration,
    BadData,
    Incomplete,
};

// How the exports' failure code follows the operation.
enum class CodeRule : uint8_t {
    Store,        // the code becomes `code`
    Keep,         // the code stays as it was
    KeepFailure,  // it stays when it names an earlier failure, else becomes `code`
};

struct Outcome {
    Kind kind = Kind::Ok;
    int32_t code = kNoError;
    CodeRule rule = CodeRule::Store;

    bool ok() const { return kind == Kind::Ok; }
};

inline Outcome succeeded() {
    return {};
}
// A success that leaves the last failure code as it was.
inline Outcome succeededQuietly() {
    return {Kind::Ok, kNoError, CodeRule::Keep};
}
inline Outcome failed(Kind kind, int32_t code) {
    return {kind, code, CodeRule::Store};
}
// A failure the exports report without a code of their own: an earlier
// failure's code stays, but "no error" never follows a failure.
inline Outcome failedKeeping(Kind kind, int32_t code) {
    return {kind, code, CodeRule::KeepFailure};
}

// The kind of a link result code (not positive): no module or a failed
// write/read, a refusal flagged by the module, or no reply in time.
Kind linkKind(int linkResult);

}  // namespace quillon
