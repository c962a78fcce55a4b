#include "log/log_writer.h"

#include <ctime>

namespace quillon {
namespace {

// Records below this level are dropped; the library never writes one.
constexpr LogLevel kLogThreshold = LOG_DEBUG;

constexpr char kSeparator[] =
    "----------------------------------------------------------------------\n";

const char* levelTag(LogLevel level) {
    switch (level) {
        case LOG_ERROR:
            return "[ERROR] ";
        case INFO:
            return "[INFO] ";
        case LOG_DEBUG:
            return "[DEBUG] ";
        default:
            return nullptr;
    }
}

std::tm localNow() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return tm;
}

// A library must not end or disturb its host over a log file: conditions are
// reported on standard error (a failing file once per writer, not once per
// record) and the record is dropped.
void reportOnce(bool& reported, const char* text) {
    if (!reported) {
        std::fprintf(stderr, "%s\n", text);
        reported = true;
    }
}

}  // namespace

LogWriter::LogWriter(const std::string& fileName) : m_ofStream(std::fopen(fileName.c_str(), "a")) {
    if (m_ofStream == nullptr)
        std::fprintf(stderr, "Logfile create failed, please check the logfile's name and path.\n");
}

LogWriter::~LogWriter() {
    if (m_ofStream != nullptr) {
        std::fflush(m_ofStream);
        std::fclose(m_ofStream);
    }
}

std::string LogWriter::dailyFileName() {
    std::tm tm = localNow();
    char name[64];
    std::snprintf(name, sizeof name, "%d-%02d-%02d-%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour);
    return name;
}

bool LogWriter::writeRecord(std::string_view operation, int line, LogLevel level,
                            std::string_view message) {
    if (m_ofStream == nullptr) {
        reportOnce(m_writeFailureReported, "Logfile write failed.");
        return false;
    }
    if (level < kLogThreshold) return false;
    const char* tag = levelTag(level);
    if (tag == nullptr) {
        std::fprintf(stderr,
                     "Log write failed, please check the level(LogLevel::LOG_ALL or "
                     "LogLevel::LOG_TRACE or LogLevel::LOG_DEBUG or LogLevel::INFO or "
                     "LogLevel::LOG_WARN or LogLevel::LOG_ERROR or LogLevel::LOG_FATAL or "
                     "LogLevel::LOG_OFF.\n");
        return false;
    }
    std::tm tm = localNow();
    char text[1024];
    std::snprintf(text, sizeof text, "<%04d-%02d-%02d %02d:%02d:%02d> [%.*s:%d]\n%.*s",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(operation.size()), operation.data(), line,
                  static_cast<int>(message.size()), message.data());
    bool ok = std::fputs(kSeparator, m_ofStream) >= 0 && std::fputs(tag, m_ofStream) >= 0 &&
              std::fputs(text, m_ofStream) >= 0 && std::fputc('\n', m_ofStream) != EOF;
    ok = std::fflush(m_ofStream) == 0 && ok;
    if (!ok) reportOnce(m_writeFailureReported, "Logfile write failed.");
    return ok;
}

}  // namespace quillon
