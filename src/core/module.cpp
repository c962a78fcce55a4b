#include "core/module.h"

namespace quillon {

void logRecord(Module& module, std::string_view operation, int line, LogLevel level,
               std::string_view message) {
    ProcessLog& log = *module.log;
    if (!log.enabled.load(std::memory_order_relaxed)) return;
    try {
        std::lock_guard<std::mutex> alone(log.lock);
        if (!log.writer) log.writer = std::make_unique<LogWriter>(LogWriter::dailyFileName());
        log.writer->writeRecord(operation, line, level, message);
    } catch (...) {
        // Logging never changes an operation's outcome.
    }
}

}  // namespace quillon
