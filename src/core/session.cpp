#include "core/session.h"

#include <new>

namespace quillon {
namespace {
// Destroyed with the library's other static data when it is unloaded, which
// flushes and closes the log file.
std::unique_ptr<SpectrometerSession> g_session;
}  // namespace

SpectrometerSession* obtainSession() {
    if (!g_session) g_session.reset(new (std::nothrow) SpectrometerSession());
    return g_session.get();
}

void destroySession() {
    g_session.reset();
}

}  // namespace quillon
