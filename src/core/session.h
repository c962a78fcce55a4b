// The one object behind every exported function: the log, the configurations
// read from the module and the host's view of them, the active index and the
// module's calibration.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "core/record_types.h"
#include "log/log_writer.h"

namespace quillon {

// One section of a configuration as the caller states it.
struct TargetSection {
    std::string typeName;
    double width;
    uint16_t wavelengthStartNm;
    uint16_t wavelengthEndNm;
    uint16_t numPatterns;
    double exposure;
};

struct SpectrometerSession {
    std::unique_ptr<LogWriter> logWriter;
    bool logEnabled = false;
    std::deque<ScanConfig> scanConfigs;
    int8_t activeScanIndex = 0;
    CalibrationCoefficients calibration{};
    // Several entries may share one name; equal names keep insertion order.
    std::multimap<std::string, TargetSection> targetConfigs;
    // False while the host's list may not be everything the module stores (a
    // retrieval stopped early or an image did not decode): saving it would
    // erase what was not read.
    bool configsComplete = false;
    // True after a save the module did not complete: its list is short of ours.
    bool moduleOutOfDate = false;
};

// The session, created on first use; nullptr only when memory runs out.
SpectrometerSession* obtainSession();
// Destroys the session (closes the log file). Called when the library unloads.
void destroySession();

// Writes one log record when logging is on; never changes a result.
void logRecord(SpectrometerSession& session, std::string_view operation, int line, LogLevel level,
               std::string_view message);

}  // namespace quillon

#define QUILLON_LOG(session, operation, level, message) \
    ::quillon::logRecord((session), (operation), __LINE__, (level), (message))
