/* A C host that only dlopens the shared object and drives the simulated module
 * through the exports; then, in a child process without the simulator, the
 * real HID layer finds nothing and says so. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "quillonlib.h"

static int failures = 0;
#define CHECK(cond)                                                                 \
    do {                                                                            \
        if (!(cond)) {                                                              \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

#define LOAD(name) __typeof__(&name) name##_ = (__typeof__(&name))dlsym(lib, #name)

static int withoutSimulator(const char* path) {
    unsetenv("QUILLONLIB_SIMULATOR");
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return 3;
    LOAD(enumerateDevices);
    LOAD(getLastException);
    unsigned count = 77;
    int result = enumerateDevices_(&count);
    const char* text = getLastException_();
    CHECK(result == -1);
    CHECK(count == 77);
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
    LOAD(enumerateDevices);
    LOAD(openSpectrometer);
    LOAD(closeSpectrometer);
    LOAD(getVersions);
    LOAD(getEstimatedScanTime);
    LOAD(getActiveScanIndex);
    LOAD(setActiveScanIndex);
    LOAD(setLampStatus);
    LOAD(getLastException);

    unsigned count = 0;
    CHECK(enumerateDevices_(&count) == 0);
    CHECK(count == 1);
    CHECK(openSpectrometer_(0) == 0);
    unsigned v[7] = {0};
    CHECK(getVersions_(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0);
    CHECK(v[0] != 0 || v[1] != 0 || v[6] != 0);
    CHECK(getEstimatedScanTime_() > 0);
    int active = -9;
    CHECK(getActiveScanIndex_(&active) == 0);
    CHECK(active == 0);
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
    dlclose(lib);

    pid_t child = fork();
    if (child == 0) _exit(withoutSimulator(argv[1]));
    int status = 0;
    waitpid(child, &status, 0);
    CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    if (failures == 0) printf("dlopen module: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
