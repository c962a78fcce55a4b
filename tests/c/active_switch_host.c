/* A C host on the 29 exports whose threads size their arrays with
 * getFormattedSpectrumLengths while another thread switches the active
 * configuration between a large and a small one in between: every scan either
 * fills exactly the points it was sized for or is refused with a text, and no
 * array is ever written past its end (the arrays are exactly as long as the
 * length reported, so a sanitizer build catches any overflow). */
#include <pthread.h>
#include <sched.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>

#include "host_checks.h"

enum { kScanners = 3, kRounds = 40 };

static void* lib;
static atomic_int done;
static int delivered[kScanners], refused[kScanners];

static void* switcher(void* arg) {
    (void)arg;
    LOAD(setActiveScanIndex);
    for (unsigned char i = 0; !done; i ^= 3) { /* positions 0 and 3 */
        setActiveScanIndex_(i);
        sched_yield();
    }
    return NULL;
}

static void* activateLarge(void* arg) {
    (void)arg;
    LOAD(setActiveScanIndex);
    CHECK(setActiveScanIndex_(0) == 0);
    return NULL;
}

static void* scanner(void* arg) {
    const int id = (int)(size_t)arg;
    LOAD(getFormattedSpectrumLengths);
    LOAD(getFormattedSpectrum);
    LOAD(getLastException);
    for (int round = 0; round < kRounds; ++round) {
        unsigned length = 0;
        if (getFormattedSpectrumLengths_(&length) != 0 || length == 0) continue;
        double* wavelengths = malloc(length * sizeof *wavelengths);
        int* intensities = malloc(length * sizeof *intensities);
        if (wavelengths == NULL || intensities == NULL) return NULL;
        if (getFormattedSpectrum_(wavelengths, intensities) == 0) {
            ++delivered[id];
        } else {
            ++refused[id];
            CHECK(strcmp(getLastException_(), "no error") != 0);
        }
        free(wavelengths);
        free(intensities);
    }
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    setenv("QUILLONLIB_SIMULATOR_TIME_SCALE", "0", 1);
    unsetenv("QUILLONLIB_SIMULATOR_MODULES");
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return 2;
    LOAD(enumerateDevices);
    LOAD(openSpectrometer);
    LOAD(closeSpectrometer);
    LOAD(setTgtCfg);
    LOAD(setTgtCfgs);
    unsigned count = 0;
    CHECK(enumerateDevices_(&count) == 0 && openSpectrometer_(0) == 0);
    /* Position 3: ten points, beside the factory's 228 at position 0. */
    CHECK(setTgtCfg_("Small", 0, "Column", 1000, 1100, 7.03, 10, 0.635) == 0);
    CHECK(setTgtCfgs_("Small", 1) == 0);

    /* Sized for the small one; the large one made active by another thread
     * before the scan: refused with a text, nothing written. */
    LOAD(setActiveScanIndex);
    LOAD(getFormattedSpectrumLengths);
    LOAD(getFormattedSpectrum);
    LOAD(getLastException);
    CHECK(setActiveScanIndex_(3) == 0);
    unsigned small = 0;
    CHECK(getFormattedSpectrumLengths_(&small) == 0 && small == 10);
    pthread_t switching, threads[kScanners];
    CHECK(pthread_create(&switching, NULL, activateLarge, NULL) == 0);
    pthread_join(switching, NULL);
    double* wavelengths = malloc(small * sizeof *wavelengths);
    int* intensities = malloc(small * sizeof *intensities);
    CHECK(getFormattedSpectrum_(wavelengths, intensities) == -1);
    CHECK(strcmp(getLastException_(), "device param[in] error") == 0);
    free(wavelengths);
    free(intensities);

    CHECK(pthread_create(&switching, NULL, switcher, NULL) == 0);
    for (int i = 0; i < kScanners; ++i)
        CHECK(pthread_create(&threads[i], NULL, scanner, (void*)(size_t)i) == 0);
    for (int i = 0; i < kScanners; ++i) pthread_join(threads[i], NULL);
    done = 1;
    pthread_join(switching, NULL);
    int scans = 0, refusals = 0;
    for (int i = 0; i < kScanners; ++i) {
        scans += delivered[i];
        refusals += refused[i];
    }
    CHECK(scans > 0);
    closeSpectrometer_();
    printf("active switch host: %d scans delivered, %d refused\n", scans, refusals);
    return failures == 0 ? 0 : 1;
}
