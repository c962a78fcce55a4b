// The dated log file: one record per logged event, flushed at once.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quillon {

enum LogLevel : int32_t {
    LOG_ALL = 0,
    LOG_TRACE = 1,
    LOG_DEBUG = 2,
    INFO = 3,
    LOG_WARN = 4,
    LOG_ERROR = 5,
    LOG_FATAL = 6,
    LOG_OFF = 7,
};

class LogWriter {
  public:
    // Opens `fileName` for appending (created when missing). A file that cannot
    // be opened leaves the writer closed: its records are dropped.
    explicit LogWriter(const std::string& fileName);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    bool isOpen() const { return m_ofStream != nullptr; }

    // Writes one record; false when it was dropped (closed file, bad level, write error).
    bool writeRecord(std::string_view operation, int line, LogLevel level,
                     std::string_view message);

    // "YYYY-MM-DD-HH.log" for the current local hour.
    static std::string dailyFileName();

  private:
    FILE* m_ofStream;
    bool m_writeFailureReported = false;
};

}  // namespace quillon
