// The exported C functions. Each obtains the session, hands the work to the
// operation that owns it, and never lets an exception reach the host.
#include <new>

#include "api/errors.h"
#include "api/session.h"
#include "config/tables.h"
#include "quillonlib.h"

using namespace quillon;

namespace {

// Runs `body` with the session; a session that cannot be created, or memory
// that runs out inside, becomes `onFailure` with the out-of-memory code.
template <class R, class F>
R withSession(R onFailure, F&& body) {
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

__attribute__((destructor)) void unloadLibrary() { destroySession(); }

}  // namespace

extern "C" {

int enumerateDevices(unsigned int* count) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)count;
        lastErrorCode = kNoSuchDevice;
        return -1;
    });
}

int openSpectrometer(int index) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)index;
        lastErrorCode = kInvalidParameter;
        return -1;
    });
}

void closeSpectrometer(void) {
    withSessionVoid([](SpectrometerSession&) {});
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
    return withSession(0u, [](SpectrometerSession& s) {
        std::vector<double> widths;
        if (!getWidthPixels(s, widths)) return 0u;
        return static_cast<unsigned int>(widths.size());
    });
}

double getWidthPixel(int index) {
    return withSession(0.0, [&](SpectrometerSession& s) {
        std::vector<double> widths;
        if (!getWidthPixels(s, widths)) return 0.0;
        if (index < 0 || static_cast<size_t>(index) >= widths.size()) return 0.0;
        return widths[static_cast<size_t>(index)];
    });
}

unsigned int getExposureTimesNumber(void) {
    return withSession(0u, [](SpectrometerSession& s) {
        std::vector<double> times;
        if (!getExposureTimes(s, times)) return 0u;
        return static_cast<unsigned int>(times.size());
    });
}

double getExposureTime(int index) {
    return withSession(0.0, [&](SpectrometerSession& s) {
        std::vector<double> times;
        if (!getExposureTimes(s, times)) return 0.0;
        if (index < 0 || static_cast<size_t>(index) >= times.size()) return 0.0;
        return times[static_cast<size_t>(index)];
    });
}

int getRemainPatternNum(const char* name, unsigned char section, unsigned short* remaining) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)name, (void)section, (void)remaining;
        lastErrorCode = kParamInError;
        return -1;
    });
}

int getPatternsRange(unsigned int* minimum, unsigned int* maximum) {
    return withSession(0, [&](SpectrometerSession& s) {
        if (minimum != nullptr) *minimum = 2;
        if (maximum != nullptr) *maximum = 624;
        QUILLON_LOG(s, "getPatternsNumRange", LOG_DEBUG, "Get patterns number range success");
        lastErrorCode = kNoError;
        return 0;
    });
}

int getActiveScanIndex(int* index) {
    return withSession(0, [&](SpectrometerSession&) {
        if (index != nullptr) *index = -1;
        lastErrorCode = kNoError;
        return 0;
    });
}

int setActiveScanIndex(unsigned char index) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)index;
        lastErrorCode = kInvalidParameter;
        return -1;
    });
}

int getEstimatedScanTime(void) {
    return withSession(-1, [](SpectrometerSession&) { return -1; });
}

int getVersions(unsigned int* v1, unsigned int* v2, unsigned int* v3, unsigned int* v4,
                unsigned int* v5, unsigned int* v6, unsigned int* v7) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)v1, (void)v2, (void)v3, (void)v4, (void)v5, (void)v6, (void)v7;
        return -1;
    });
}

int setLampStatus(int on) {
    return withSession(0, [&](SpectrometerSession&) {
        (void)on;
        lastErrorCode = kNoError;
        return 0;
    });
}

int getMaxPattern(const char* name, int startNm, int endNm, unsigned char widthPixels,
                  unsigned int scanType, unsigned char spare) {
    return withSession(0, [&](SpectrometerSession&) {
        (void)name, (void)startNm, (void)endNm, (void)widthPixels, (void)scanType, (void)spare;
        return 0;
    });
}

int getFormattedSpectrumLengths(unsigned int* length) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)length;
        return -1;
    });
}

int setSpectrumAverageTime(unsigned short count) {
    return withSession(0, [&](SpectrometerSession&) {
        (void)count;
        lastErrorCode = kNoError;
        return 0;
    });
}

int getFormattedSpectrum(double* wavelengths, int* intensities) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)wavelengths, (void)intensities;
        lastErrorCode = kDeviceReturnError;
        return -1;
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
    return withSession(-1, [&](SpectrometerSession&) {
        (void)index, (void)buffer, (void)bufferLength;
        return -1;
    });
}

int getScanSectionNameNumber(const char* name) {
    return withSession(0, [&](SpectrometerSession&) {
        (void)name;
        return 0;
    });
}

int getScanSectionNumber(void) {
    return withSession(0, [](SpectrometerSession&) { return 0; });
}

int getScanSectionNameCfg(const char* name, int sectionIndex, char* typeBuffer,
                          unsigned int bufferLength, double* width,
                          unsigned short* wavelengthStartNm, unsigned short* wavelengthEndNm,
                          unsigned short* numPatterns, double* exposure) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)name, (void)sectionIndex, (void)typeBuffer, (void)bufferLength, (void)width;
        (void)wavelengthStartNm, (void)wavelengthEndNm, (void)numPatterns, (void)exposure;
        return -1;
    });
}

int setTgtCfg(const char* name, int sectionIndex, const char* typeName,
              unsigned short wavelengthStartNm, unsigned short wavelengthEndNm, double width,
              unsigned short numPatterns, double exposure) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)name, (void)sectionIndex, (void)typeName, (void)wavelengthStartNm;
        (void)wavelengthEndNm, (void)width, (void)numPatterns, (void)exposure;
        return -1;
    });
}

int setTgtCfgs(const char* name, unsigned short numRepeats) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)name, (void)numRepeats;
        lastErrorCode = kParamInError;
        return -1;
    });
}

int removeTgtCfg(const char* name) {
    return withSession(-1, [&](SpectrometerSession&) {
        (void)name;
        lastErrorCode = kParamInError;
        return -1;
    });
}

}  // extern "C"
