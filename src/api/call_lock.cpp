#include "api/call_lock.h"

namespace quillon {
namespace {
// Constant-initialized, so it is usable from the first call and needs nothing
// at unload.
std::mutex g_callLock;
}  // namespace

std::mutex& exportCallLock() {
    return g_callLock;
}

}  // namespace quillon
