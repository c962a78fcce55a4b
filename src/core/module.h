// Everything that belongs to one open module, in one object: its identity and
// link, this process's hold of it, the configurations read from it and the
// host's view of them, the active position, the calibration, the lamp state
// last commanded, the S-matrix table its scans are decoded with, the outcome
// of its last operation, and the flag that asks a running scan to stop.
// Operations take a Module; the 29 exports work on one default Module.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "core/link_state.h"
#include "core/module_hold.h"
#include "core/outcome.h"
#include "core/record_types.h"
#include "core/save_identity.h"
#include "log/log_writer.h"

namespace quillon {

struct HadamardMatrixSet;

// One section of a configuration as the caller states it.
struct TargetSection {
    std::string typeName;
    double width;
    uint16_t wavelengthStartNm;
    uint16_t wavelengthEndNm;
    uint16_t numPatterns;
    double exposure;
};

// The process's log file and its switch, shared by every module.
struct ProcessLog {
    std::unique_ptr<LogWriter> writer;
    std::atomic<bool> enabled{false};
    std::mutex lock;  // modules used from several threads log through one file
};

enum class Lamp : uint8_t { Unknown, Off, On };

struct Module {
    explicit Module(ProcessLog& processLog, bool console = false)
        : log(&processLog), printsToConsole(console) {}
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    ProcessLog* log;
    // The exports' few console messages (a failed scan, a failed calibration
    // read) go to standard output; hosts of quillon.h keep it for themselves.
    bool printsToConsole;
    std::string path;           // the HID layer's name for it; empty before opening
    std::wstring serialNumber;  // empty when it has none
    link::LinkState link;
    ModuleHold hold;

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
    Lamp lamp = Lamp::Unknown;
    std::shared_ptr<const HadamardMatrixSet> hadamardSet;  // null: the process's table

    // Where this module's saves are journaled, and what opening it did with
    // the journal of a save that an earlier process did not finish.
    JournalTarget journal;
    RecoveryOutcome recovery;

    Outcome lastResult;
    // Why the last edit of the stored configurations was refused.
    std::string refusal;
    // Set from any thread or a signal handler; a running scan gives up.
    std::atomic<bool> cancelRequested{false};
    static_assert(std::atomic<bool>::is_always_lock_free);
    // Calls through quillon.h on this module take turns.
    std::mutex calls;
    // True after a scan was given up while the module still ran it: the next
    // command that needs the module idle waits for it first.
    bool scanMayRun = false;
};

// Writes one log record when logging is on; never changes a result.
void logRecord(Module& module, std::string_view operation, int line, LogLevel level,
               std::string_view message);

}  // namespace quillon

#define QUILLON_LOG(module, operation, level, message) \
    ::quillon::logRecord((module), (operation), __LINE__, (level), (message))
