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

void logRecord(SpectrometerSession& session, std::string_view operation, int line, LogLevel level,
               std::string_view message) {
    if (!session.logEnabled) return;
    try {
        if (!session.logWriter)
            session.logWriter = std::make_unique<LogWriter>(LogWriter::dailyFileName());
        session.logWriter->writeRecord(operation, line, level, message);
    } catch (...) {
        // Logging never changes an operation's outcome.
    }
}

}  // namespace quillon
