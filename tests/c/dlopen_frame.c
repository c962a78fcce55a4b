/* A C host that only dlopens the shared object: the frame answers through it. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

static int failures = 0;
#define CHECK(cond)                                                    \
    do {                                                               \
        if (!(cond)) {                                                 \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                \
        }                                                              \
    } while (0)

static const char* const kExports[] = {
    "enumerateDevices", "openSpectrometer", "closeSpectrometer", "getScanTypesNumber",
    "getScanTypesName", "getWidthPixelsNumber", "getWidthPixel", "getExposureTimesNumber",
    "getExposureTime", "getRemainPatternNum", "getPatternsRange", "getActiveScanIndex",
    "setActiveScanIndex", "getEstimatedScanTime", "getVersions", "setLampStatus",
    "getMaxPattern", "getFormattedSpectrumLengths", "setSpectrumAverageTime",
    "getFormattedSpectrum", "getLastException", "setLogSwitch", "getScanSectionName",
    "getScanSectionNameNumber", "getScanSectionNumber", "getScanSectionNameCfg", "setTgtCfg",
    "setTgtCfgs", "removeTgtCfg"};

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i)
        CHECK(dlsym(lib, kExports[i]) != NULL);
    CHECK(dlsym(lib, "_ZN7quillon13lastErrorCodeE") == NULL);

    const char* (*lastException)(void) = (const char* (*)(void))dlsym(lib, "getLastException");
    int (*typesNumber)(void) = (int (*)(void))dlsym(lib, "getScanTypesNumber");
    const char* (*typeName)(int) = (const char* (*)(int))dlsym(lib, "getScanTypesName");
    unsigned (*widthCount)(void) = (unsigned (*)(void))dlsym(lib, "getWidthPixelsNumber");
    double (*width)(int) = (double (*)(int))dlsym(lib, "getWidthPixel");
    double (*exposure)(int) = (double (*)(int))dlsym(lib, "getExposureTime");
    int (*range)(unsigned*, unsigned*) = (int (*)(unsigned*, unsigned*))dlsym(lib, "getPatternsRange");
    void (*logSwitch)(int) = (void (*)(int))dlsym(lib, "setLogSwitch");
    int (*open)(int) = (int (*)(int))dlsym(lib, "openSpectrometer");

    CHECK(strcmp(lastException(), "no error") == 0);
    CHECK(typesNumber() == 2);
    CHECK(strcmp(typeName(1), "Hadamard") == 0);
    CHECK(typeName(2) == NULL);
    CHECK(widthCount() == 51);
    CHECK(width(36) == 44.50);
    CHECK(exposure(6) == 60.96);

    CHECK(open(-2) == -1);
    CHECK(strcmp(lastException(), "Invalid parameter") == 0);

    logSwitch(1);
    unsigned lo = 0, hi = 0;
    CHECK(range(&lo, &hi) == 0 && lo == 2 && hi == 624);
    CHECK(strcmp(lastException(), "no error") == 0);
    logSwitch(0);

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
    if (failures == 0) printf("dlopen frame: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
