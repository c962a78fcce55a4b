/* A C host that only dlopens the shared object, as an application would: every
 * export is there, the frame answers and logs, the simulated module is driven
 * through the exports; then, in a child process without the simulator, the
 * real HID layer finds nothing and says so. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "quillonlib.h"

#include "host_checks.h"

static const char* const kExports[] = {"enumerateDevices",
                                       "openSpectrometer",
                                       "closeSpectrometer",
                                       "getScanTypesNumber",
                                       "getScanTypesName",
                                       "getWidthPixelsNumber",
                                       "getWidthPixel",
                                       "getExposureTimesNumber",
                                       "getExposureTime",
                                       "getRemainPatternNum",
                                       "getPatternsRange",
                                       "getActiveScanIndex",
                                       "setActiveScanIndex",
                                       "getEstimatedScanTime",
                                       "getVersions",
                                       "setLampStatus",
                                       "getMaxPattern",
                                       "getFormattedSpectrumLengths",
                                       "setSpectrumAverageTime",
                                       "getFormattedSpectrum",
                                       "getLastException",
                                       "setLogSwitch",
                                       "getScanSectionName",
                                       "getScanSectionNameNumber",
                                       "getScanSectionNumber",
                                       "getScanSectionNameCfg",
                                       "setTgtCfg",
                                       "setTgtCfgs",
                                       "removeTgtCfg"};

/* The frame without a module: tables, parameter checks, and the log file. */
static void frame(void* lib) {
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i)
        CHECK(dlsym(lib, kExports[i]) != NULL);
    CHECK(dlsym(lib, "_ZN7quillon13lastErrorCodeE") == NULL);
    LOAD(getLastException);
    LOAD(getScanTypesNumber);
    LOAD(getScanTypesName);
    LOAD(getWidthPixelsNumber);
    LOAD(getWidthPixel);
    LOAD(getExposureTime);
    LOAD(getPatternsRange);
    LOAD(setLogSwitch);
    LOAD(openSpectrometer);
    CHECK(strcmp(getLastException_(), "no error") == 0);
    CHECK(getScanTypesNumber_() == 2);
    CHECK(strcmp(getScanTypesName_(1), "Hadamard") == 0);
    CHECK(getScanTypesName_(2) == NULL);
    CHECK(getWidthPixelsNumber_() == 51);
    CHECK(getWidthPixel_(36) == 44.50);
    CHECK(getExposureTime_(6) == 60.96);
    CHECK(openSpectrometer_(-2) == -1);
    CHECK(strcmp(getLastException_(), "Invalid parameter") == 0);
    setLogSwitch_(1);
    unsigned lo = 0, hi = 0;
    CHECK(getPatternsRange_(&lo, &hi) == 0 && lo == 2 && hi == 624);
    CHECK(strcmp(getLastException_(), "no error") == 0);
    setLogSwitch_(0);
}

static void module(void* lib) {
    LOAD(enumerateDevices);
    LOAD(openSpectrometer);
    LOAD(closeSpectrometer);
    LOAD(getVersions);
    LOAD(getEstimatedScanTime);
    LOAD(getActiveScanIndex);
    LOAD(setActiveScanIndex);
    LOAD(setLampStatus);
    LOAD(getLastException);
    unsigned count = 0, v[7] = {0};
    int active = -9;
    CHECK(enumerateDevices_(&count) == 0 && count == 1);
    CHECK(openSpectrometer_(0) == 0);
    CHECK(getVersions_(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0);
    CHECK(v[0] != 0 || v[1] != 0 || v[6] != 0);
    CHECK(getEstimatedScanTime_() > 0);
    CHECK(getActiveScanIndex_(&active) == 0 && active == 0);
    CHECK(setLampStatus_(1) == 0);
    CHECK(setLampStatus_(0) == 0);
    CHECK(setActiveScanIndex_(1) == 0);
    CHECK(getActiveScanIndex_(&active) == 0 && active == 1);
    CHECK(openSpectrometer_(0) == -1);
    CHECK(strcmp(getLastException_(), "No such device (it may have been disconnected)") == 0);
    closeSpectrometer_();
    CHECK(getVersions_(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == -1);
    CHECK(openSpectrometer_(0) == 0);
    CHECK(getActiveScanIndex_(&active) == 0 && active == 1);
    CHECK(strcmp(getLastException_(), "no error") == 0);
    setActiveScanIndex_(0);
    closeSpectrometer_();
}

static int withoutSimulator(const char* path) {
    unsetenv("QUILLONLIB_SIMULATOR");
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return 3;
    LOAD(enumerateDevices);
    LOAD(getLastException);
    unsigned count = 77;
    CHECK(enumerateDevices_(&count) == -1);
    CHECK(count == 77);
    const char* text = getLastException_();
    CHECK(strcmp(text, "Entity not found") == 0 ||
          strcmp(text, "No such device (it may have been disconnected)") == 0);
    dlclose(lib);
    return failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    frame(lib);
    module(lib);
    time_t now = time(NULL);
    struct tm tm;
    localtime_r(&now, &tm);
    char name[64];
    snprintf(name, sizeof name, "%d-%02d-%02d-%02d.log", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour);
    dlclose(lib); /* unloading closes the log file */
    FILE* f = fopen(name, "r");
    CHECK(f != NULL);
    if (f != NULL) {
        char text[8192];
        size_t n = fread(text, 1, sizeof text - 1, f);
        text[n] = 0;
        fclose(f);
        CHECK(strstr(text, "[getPatternsNumRange:") != NULL);
        CHECK(strstr(text, "\nGet patterns number range success\n") != NULL);
        remove(name);
    }

    pid_t child = fork();
    if (child == 0) _exit(withoutSimulator(argv[1]));
    int status = 0;
    waitpid(child, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (failures == 0) printf("dlopen host: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
