// The exported C functions. Each obtains the session, hands the work to the
// operation that owns it on the session's default module, stores the failure
// code the operation's outcome names (the one place that code is written), and
// never lets an exception reach the host.
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "api/call_lock.h"
#include "api/discovery.h"
#include "config/editing.h"
#include "config/queries.h"
#include "config/tables.h"
#include "core/errors.h"
#include "core/limits.h"
#include "core/session.h"
#include "quillonlib.h"
#include "scan/execution.h"
#include "scan/formatted.h"
#include "spectrum/geometry.h"

using namespace quillon;

namespace {

// The number of points getFormattedSpectrumLengths last reported to this
// thread: the arrays it sized for getFormattedSpectrum. Negative: none yet.
thread_local int64_t t_reportedPoints = -1;

// Runs `body` with the session; a session that cannot be created, or memory
// that runs out inside, becomes `onFailure` with the out-of-memory code.
template <class R, class F>
R withSession(R onFailure, F&& body) {
    std::lock_guard<std::mutex> alone(exportCallLock());
    try {
        SpectrometerSession* session = obtainSession();
        if (session == nullptr) {
            lastErrorCode = kNirNoMemory;
            return onFailure;
        }
        return body(*session);
    } catch (...) {
        lastErrorCode = kNirNoMemory;
        return onFailure;
    }
}

template <class F>
void withSessionVoid(F&& body) {
    withSession(0, [&](SpectrometerSession& s) {
        body(s);
        return 0;
    });
}

// Leaves what the operation's outcome names for getLastException.
void store(const Outcome& outcome) {
    switch (outcome.rule) {
        case CodeRule::Store:
            lastErrorCode = outcome.code;
            break;
        case CodeRule::Keep:
            break;
        case CodeRule::KeepFailure:
            if (lastErrorCode == kNoError) lastErrorCode = outcome.code;
            break;
    }
}

// The exports' int result of an operation: 0, or -1 with its code stored.
int finish(Module& module, const Outcome& outcome) {
    module.lastResult = outcome;
    store(outcome);
    return outcome.ok() ? 0 : -1;
}

using TableBuilder = bool (*)(Module&, std::vector<double>&);

// The tables are built anew for every question, as each build is logged.
unsigned int tableSize(TableBuilder build) {
    return withSession(0u, [&](SpectrometerSession& s) {
        std::vector<double> table;
        if (!build(s.module, table)) return 0u;
        lastErrorCode = kNoError;
        return static_cast<unsigned int>(table.size());
    });
}

double tableEntry(TableBuilder build, int index) {
    return withSession(0.0, [&](SpectrometerSession& s) {
        std::vector<double> table;
        if (!build(s.module, table)) return 0.0;
        lastErrorCode = kNoError;
        if (index < 0 || static_cast<size_t>(index) >= table.size()) return 0.0;
        return table[static_cast<size_t>(index)];
    });
}

// A name from the host: a null pointer reads as the empty name.
std::string nameOf(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}

}  // namespace

extern "C" {

int enumerateDevices(unsigned int* count) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, enumerateDevicesOp(s, link::systemHidLayer(), count));
    });
}

int openSpectrometer(int index) {
    return withSession(
        -1, [&](SpectrometerSession& s) { return finish(s.module, openSpectrometerOp(s, index)); });
}

void closeSpectrometer(void) {
    withSessionVoid([](SpectrometerSession& s) { closeSpectrometerOp(s.module); });
}

int getScanTypesNumber(void) {
    return withSession(2, [](SpectrometerSession&) { return kScanTypeCount; });
}

const char* getScanTypesName(int type) {
    return withSession<const char*>(nullptr, [&](SpectrometerSession&) -> const char* {
        if (type == 0) return "Column";
        if (type == 1) return "Hadamard";
        return nullptr;
    });
}

unsigned int getWidthPixelsNumber(void) {
    return tableSize(getWidthPixels);
}

double getWidthPixel(int index) {
    return tableEntry(getWidthPixels, index);
}

unsigned int getExposureTimesNumber(void) {
    return tableSize(getExposureTimes);
}

double getExposureTime(int index) {
    return tableEntry(getExposureTimes, index);
}

int getRemainPatternNum(const char* name, unsigned char section, unsigned short* remaining) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, getRemainPatternsNum(s.module, nameOf(name), section, remaining));
    });
}

int getPatternsRange(unsigned int* minimum, unsigned int* maximum) {
    return withSession(0, [&](SpectrometerSession& s) {
        if (minimum != nullptr) *minimum = kMinPatterns;
        if (maximum != nullptr) *maximum = kMaxPatterns;
        QUILLON_LOG(s.module, "getPatternsNumRange", LOG_DEBUG,
                    "Get patterns number range success");
        lastErrorCode = kNoError;
        return 0;
    });
}

int getActiveScanIndex(int* index) {
    return withSession(0, [&](SpectrometerSession& s) {
        finish(s.module, getActiveScanIndexOp(s.module, index));
        return 0;  // a failed read shows in the index alone
    });
}

int setActiveScanIndex(unsigned char index) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, setActiveScanIndexOp(s.module, index));
    });
}

int getEstimatedScanTime(void) {
    return withSession(-1, [](SpectrometerSession& s) {
        int result = 0;
        finish(s.module, getEstimatedScanTimeOp(s.module, result));
        return result;
    });
}

int getVersions(unsigned int* v1, unsigned int* v2, unsigned int* v3, unsigned int* v4,
                unsigned int* v5, unsigned int* v6, unsigned int* v7) {
    return withSession(-1, [&](SpectrometerSession& s) {
        uint32_t* const destinations[7] = {v1, v2, v3, v4, v5, v6, v7};
        return finish(s.module, getVersionsOp(s.module, destinations));
    });
}

int setLampStatus(int on) {
    return withSession(0, [&](SpectrometerSession& s) {
        const Outcome outcome = setLampStatusOp(s.module, on);
        finish(s.module, outcome);
        return 0;  // the lamp commands' answers are not looked at
    });
}

// The name and the spare byte take no part in the answer.
int getMaxPattern(const char* /*name*/, int startNm, int endNm, unsigned char widthPixels,
                  unsigned int scanType, unsigned char /*spare*/) {
    return withSession(0, [&](SpectrometerSession& s) {
        return computeMaxPatterns(s.module.calibration, startNm, endNm, widthPixels, scanType);
    });
}

int getFormattedSpectrumLengths(unsigned int* length) {
    return withSession(-1, [&](SpectrometerSession& s) {
        int64_t points = 0;
        const Outcome outcome = getFormattedSpectrumLength(s.module, length, points);
        if (outcome.ok()) t_reportedPoints = points;
        return finish(s.module, outcome);
    });
}

int setSpectrumAverageTime(unsigned short count) {
    return withSession(0, [&](SpectrometerSession& s) {
        return finish(s.module, setSpectrumAverageTimeOp(s.module, count));
    });
}

int getFormattedSpectrum(double* wavelengths, int* intensities) {
    return withSession(-1, [&](SpectrometerSession& s) {
        // A thread that never asked for the length sized its arrays some
        // other way; nothing here can check them.
        const size_t capacity = t_reportedPoints >= 0 ? static_cast<size_t>(t_reportedPoints)
                                                      : std::numeric_limits<size_t>::max();
        return finish(s.module,
                      getFormattedSpectrumOp(s.module, wavelengths, intensities, capacity));
    });
}

const char* getLastException(void) {
    return withSession<const char*>(errorText(kNirNoMemory),
                                    [](SpectrometerSession&) { return errorText(lastErrorCode); });
}

void setLogSwitch(int on) {
    withSessionVoid([&](SpectrometerSession& s) { s.log.enabled = on > 0; });
}

int getScanSectionName(int index, char* buffer, unsigned int bufferLength) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, getScanSectionNameOp(s.module, index, buffer, bufferLength));
    });
}

int getScanSectionNameNumber(const char* name) {
    return withSession(0, [&](SpectrometerSession& s) {
        return getScanSectionNameNumberOp(s.module, nameOf(name));
    });
}

int getScanSectionNumber(void) {
    return withSession(0, [](SpectrometerSession& s) { return getScanSectionNumberOp(s.module); });
}

int getScanSectionNameCfg(const char* name, int sectionIndex, char* typeBuffer,
                          unsigned int bufferLength, double* width,
                          unsigned short* wavelengthStartNm, unsigned short* wavelengthEndNm,
                          unsigned short* numPatterns, double* exposure) {
    return withSession(-1, [&](SpectrometerSession& s) {
        TargetSection section;
        const Outcome outcome = getScanSectionNameCfgOp(s.module, nameOf(name), sectionIndex,
                                                        typeBuffer, bufferLength, section);
        if (outcome.ok()) {
            if (width != nullptr) *width = section.width;
            if (wavelengthStartNm != nullptr) *wavelengthStartNm = section.wavelengthStartNm;
            if (wavelengthEndNm != nullptr) *wavelengthEndNm = section.wavelengthEndNm;
            if (numPatterns != nullptr) *numPatterns = section.numPatterns;
            if (exposure != nullptr) *exposure = section.exposure;
        }
        return finish(s.module, outcome);
    });
}

int setTgtCfg(const char* name, int sectionIndex, const char* typeName,
              unsigned short wavelengthStartNm, unsigned short wavelengthEndNm, double width,
              unsigned short numPatterns, double exposure) {
    return withSession(-1, [&](SpectrometerSession& s) {
        TargetSection section{nameOf(typeName), width,       wavelengthStartNm,
                              wavelengthEndNm,  numPatterns, exposure};
        return finish(s.module, setTgtCfgOp(s.module, nameOf(name), sectionIndex, section));
    });
}

int setTgtCfgs(const char* name, unsigned short numRepeats) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, setTgtCfgsOp(s.module, nameOf(name), numRepeats));
    });
}

int removeTgtCfg(const char* name) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return finish(s.module, removeTargetCfg(s.module, nameOf(name)));
    });
}

}  // extern "C"
