// The exported C functions. Each obtains the session, hands the work to the
// operation that owns it, and never lets an exception reach the host.
#include <mutex>
#include <new>
#include <string>
#include <vector>

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

// Every export runs alone: the session, the link and the module are one
// conversation at a time, and a scan holds them until its spectrum is read.
// Other threads wait their turn. Constant-initialized, so it is usable from
// the first call and needs nothing at unload.
std::mutex g_callLock;

// Runs `body` with the session; a session that cannot be created, or memory
// that runs out inside, becomes `onFailure` with the out-of-memory code.
template <class R, class F>
R withSession(R onFailure, F&& body) {
    std::lock_guard<std::mutex> alone(g_callLock);
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

using TableBuilder = bool (*)(SpectrometerSession&, std::vector<double>&);

// The tables are built anew for every question, as each build is logged.
unsigned int tableSize(TableBuilder build) {
    return withSession(0u, [&](SpectrometerSession& s) {
        std::vector<double> table;
        return build(s, table) ? static_cast<unsigned int>(table.size()) : 0u;
    });
}

double tableEntry(TableBuilder build, int index) {
    return withSession(0.0, [&](SpectrometerSession& s) {
        std::vector<double> table;
        if (!build(s, table) || index < 0 || static_cast<size_t>(index) >= table.size()) return 0.0;
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
        return enumerateDevicesOp(s, link::systemHidLayer(), count);
    });
}

int openSpectrometer(int index) {
    return withSession(-1, [&](SpectrometerSession& s) { return openSpectrometerOp(s, index); });
}

void closeSpectrometer(void) {
    withSessionVoid([](SpectrometerSession& s) { closeSpectrometerOp(s); });
}

int getScanTypesNumber(void) {
    return withSession(2, [](SpectrometerSession&) { return 2; });
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
        return getRemainPatternsNum(s, nameOf(name), section, remaining);
    });
}

int getPatternsRange(unsigned int* minimum, unsigned int* maximum) {
    return withSession(0, [&](SpectrometerSession& s) {
        if (minimum != nullptr) *minimum = kMinPatterns;
        if (maximum != nullptr) *maximum = kMaxPatterns;
        QUILLON_LOG(s, "getPatternsNumRange", LOG_DEBUG, "Get patterns number range success");
        lastErrorCode = kNoError;
        return 0;
    });
}

int getActiveScanIndex(int* index) {
    return withSession(0, [&](SpectrometerSession& s) { return getActiveScanIndexOp(s, index); });
}

int setActiveScanIndex(unsigned char index) {
    return withSession(-1, [&](SpectrometerSession& s) { return setActiveScanIndexOp(s, index); });
}

int getEstimatedScanTime(void) {
    return withSession(-1, [](SpectrometerSession&) { return getEstimatedScanTimeOp(); });
}

int getVersions(unsigned int* v1, unsigned int* v2, unsigned int* v3, unsigned int* v4,
                unsigned int* v5, unsigned int* v6, unsigned int* v7) {
    return withSession(-1, [&](SpectrometerSession&) {
        uint32_t* const destinations[7] = {v1, v2, v3, v4, v5, v6, v7};
        return getVersionsOp(destinations);
    });
}

int setLampStatus(int on) {
    return withSession(0, [&](SpectrometerSession& s) { return setLampStatusOp(s, on); });
}

// The name and the spare byte take no part in the answer.
int getMaxPattern(const char* /*name*/, int startNm, int endNm, unsigned char widthPixels,
                  unsigned int scanType, unsigned char /*spare*/) {
    return withSession(0, [&](SpectrometerSession& s) {
        return computeMaxPatterns(s.calibration, startNm, endNm, widthPixels, scanType);
    });
}

int getFormattedSpectrumLengths(unsigned int* length) {
    return withSession(
        -1, [&](SpectrometerSession& s) { return getFormattedSpectrumLength(s, length); });
}

int setSpectrumAverageTime(unsigned short count) {
    return withSession(0,
                       [&](SpectrometerSession& s) { return setSpectrumAverageTimeOp(s, count); });
}

int getFormattedSpectrum(double* wavelengths, int* intensities) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return getFormattedSpectrumOp(s, wavelengths, intensities);
    });
}

const char* getLastException(void) {
    return withSession<const char*>(errorText(kNirNoMemory),
                                    [](SpectrometerSession&) { return errorText(lastErrorCode); });
}

void setLogSwitch(int on) {
    withSessionVoid([&](SpectrometerSession& s) { s.logEnabled = on > 0; });
}

int getScanSectionName(int index, char* buffer, unsigned int bufferLength) {
    return withSession(-1, [&](SpectrometerSession& s) {
        return getScanSectionNameOp(s, index, buffer, bufferLength);
    });
}

int getScanSectionNameNumber(const char* name) {
    return withSession(
        0, [&](SpectrometerSession& s) { return getScanSectionNameNumberOp(s, nameOf(name)); });
}

int getScanSectionNumber(void) {
    return withSession(0, [](SpectrometerSession& s) { return getScanSectionNumberOp(s); });
}

int getScanSectionNameCfg(const char* name, int sectionIndex, char* typeBuffer,
                          unsigned int bufferLength, double* width,
                          unsigned short* wavelengthStartNm, unsigned short* wavelengthEndNm,
                          unsigned short* numPatterns, double* exposure) {
    return withSession(-1, [&](SpectrometerSession& s) {
        TargetSection section;
        if (getScanSectionNameCfgOp(s, nameOf(name), sectionIndex, typeBuffer, bufferLength,
                                    section) != 0)
            return -1;
        if (width != nullptr) *width = section.width;
        if (wavelengthStartNm != nullptr) *wavelengthStartNm = section.wavelengthStartNm;
        if (wavelengthEndNm != nullptr) *wavelengthEndNm = section.wavelengthEndNm;
        if (numPatterns != nullptr) *numPatterns = section.numPatterns;
        if (exposure != nullptr) *exposure = section.exposure;
        return 0;
    });
}

int setTgtCfg(const char* name, int sectionIndex, const char* typeName,
              unsigned short wavelengthStartNm, unsigned short wavelengthEndNm, double width,
              unsigned short numPatterns, double exposure) {
    return withSession(-1, [&](SpectrometerSession& s) {
        TargetSection section{nameOf(typeName), width,       wavelengthStartNm,
                              wavelengthEndNm,  numPatterns, exposure};
        return setTgtCfgOp(s, nameOf(name), sectionIndex, section);
    });
}

int setTgtCfgs(const char* name, unsigned short numRepeats) {
    return withSession(
        -1, [&](SpectrometerSession& s) { return setTgtCfgsOp(s, nameOf(name), numRepeats); });
}

int removeTgtCfg(const char* name) {
    return withSession(-1,
                       [&](SpectrometerSession& s) { return removeTargetCfg(s, nameOf(name)); });
}

}  // extern "C"
