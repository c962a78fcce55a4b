#include "api/session.h"

#include <new>

namespace quillon {
namespace {
SpectrometerSession* g_session = nullptr;
}

SpectrometerSession* obtainSession() {
    if (g_session == nullptr) g_session = new (std::nothrow) SpectrometerSession();
    return g_session;
}

void destroySession() {
    delete g_session;
    g_session = nullptr;
}

void logRecord(SpectrometerSession& session, std::string_view operation, int line,
               LogLevel level, std::string_view message) {
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
