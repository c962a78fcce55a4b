#include "core/errors.h"

namespace quillon {

thread_local int32_t lastErrorCode = 0;

const char* errorText(int32_t code) {
    switch (code) {
        case kNoError:
            return "no error";
        case kIoError:
            return "Input/output error";
        case kInvalidParameter:
            return "Invalid parameter";
        case kAccessDenied:
            return "Access denied (insufficient permissions)";
        case kNoSuchDevice:
            return "No such device (it may have been disconnected)";
        case kEntityNotFound:
            return "Entity not found";
        case kResourceBusy:
            return "Resource busy";
        case kTimedOut:
            return "Operation timed out";
        case kOverflow:
            return "Overflow";
        case kPipeError:
            return "Pipe error";
        case kInterrupted:
            return "System call interrupted (perhaps due to signal)";
        case kUsbNoMemory:
            return "USB insufficient memory";
        case kNotSupported:
            return "Operation not supported or unimplemented on this platform";
        case kDeviceIndexError:
            return "device index error";
        case kDeviceNotFound:
            return "device not found";
        case kDeviceHandleError:
            return "device handle error";
        case kDevicePointerError:
            return "device pointer error";
        case kParamInError:
            return "device param[in] error";
        case kParamOutError:
            return "device param[out] error";
        case kDeviceReturnError:
            return "device return error";
        case kNirNoMemory:
            return "NIR insufficient memory";
        default:
            return "unknow";
    }
}

}  // namespace quillon
