// The process-wide code of the last failure and the texts callers read for it.
#pragma once

#include <cstdint>

namespace quillon {

enum ErrorCode : int32_t {
    kNoError = 0,
    kIoError = 101001,
    kInvalidParameter = 101002,
    kAccessDenied = 101003,
    kNoSuchDevice = 101004,
    kEntityNotFound = 101005,
    kResourceBusy = 101006,
    kTimedOut = 101007,
    kOverflow = 101008,
    kPipeError = 101009,
    kInterrupted = 101010,
    kUsbNoMemory = 101011,
    kNotSupported = 101012,
    kDeviceIndexError = 102001,
    kDeviceNotFound = 102002,
    kDeviceHandleError = 102003,
    kDevicePointerError = 102004,
    kParamInError = 102005,
    kParamOutError = 102006,
    kDeviceReturnError = 102007,
    kNirNoMemory = 102008,
};

// Per calling thread, like errno: what getLastException reports is the last
// failure of the calls this thread made. A host with one thread sees the one
// process-wide code it always saw.
extern thread_local int32_t lastErrorCode;

// Text for a failure code; "unknow" for a code that is not in the table.
const char* errorText(int32_t code);

}  // namespace quillon
