/* A C host that calls the library from four threads at once on one open
 * simulated module: scans, estimated-time reads and configuration queries,
 * each of which must give exactly what it gives a single thread, and a failed
 * call whose text only its own thread reads back. */
#include <dlfcn.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_checks.h"
#include "quillonlib.h"

enum { kThreads = 4, kRounds = 25, kMaxPoints = 864, kMaxNames = 20 };

/* What one thread alone gets. */
struct Answers {
    unsigned points;
    double wavelengths[kMaxPoints];
    int intensities[kMaxPoints];
    int estimate;
    int names;
    char name[kMaxNames][64];
    int sections[kMaxNames];
    double width[kMaxNames];
    unsigned short start[kMaxNames], end[kMaxNames], patterns[kMaxNames];
    const char* refusal; /* the text of a refused query */
};

static struct Answers reference;
static void* lib;
static int mismatches[kThreads];

static void ask(struct Answers* a) {
    LOAD(getFormattedSpectrumLengths);
    LOAD(getFormattedSpectrum);
    LOAD(getEstimatedScanTime);
    LOAD(getScanSectionNumber);
    LOAD(getScanSectionName);
    LOAD(getScanSectionNameNumber);
    LOAD(getScanSectionNameCfg);
    LOAD(getRemainPatternNum);
    LOAD(getLastException);
    memset(a, 0, sizeof *a);
    a->points = 0;
    if (getFormattedSpectrumLengths_(&a->points) != 0 || a->points > kMaxPoints) a->points = 0;
    if (getFormattedSpectrum_(a->wavelengths, a->intensities) != 0) a->points = 0;
    a->estimate = getEstimatedScanTime_();
    a->names = getScanSectionNumber_();
    for (int i = 0; i < a->names && i < kMaxNames; ++i) {
        getScanSectionName_(i, a->name[i], sizeof a->name[i] - 1);
        a->sections[i] = getScanSectionNameNumber_(a->name[i]);
        char type[16];
        getScanSectionNameCfg_(a->name[i], 0, type, sizeof type, &a->width[i], &a->start[i],
                               &a->end[i], &a->patterns[i], NULL);
    }
    unsigned short remaining = 0;
    if (getRemainPatternNum_("no such configuration", 1, &remaining) == 0)
        a->refusal = "accepted";
    else
        a->refusal = getLastException_();
}

static void* worker(void* arg) {
    const int id = (int)(size_t)arg;
    struct Answers* got = malloc(sizeof *got);
    for (int round = 0; got != NULL && round < kRounds; ++round) {
        ask(got);
        if (memcmp(got, &reference, sizeof *got) != 0) ++mismatches[id];
    }
    free(got);
    return NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    /* Scans that take a little time, so the threads' calls meet mid-scan. */
    setenv("QUILLONLIB_SIMULATOR_TIME_SCALE", "0.01", 1);
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return 2;
    LOAD(enumerateDevices);
    LOAD(openSpectrometer);
    LOAD(closeSpectrometer);
    unsigned count = 0;
    CHECK(enumerateDevices_(&count) == 0 && openSpectrometer_(0) == 0);

    ask(&reference);
    CHECK(reference.points > 0);
    CHECK(reference.estimate > 0);
    CHECK(reference.names >= 3);
    CHECK(strcmp(reference.refusal, "device param[in] error") == 0);

    pthread_t threads[kThreads];
    for (int i = 0; i < kThreads; ++i)
        CHECK(pthread_create(&threads[i], NULL, worker, (void*)(size_t)i) == 0);
    for (int i = 0; i < kThreads; ++i) pthread_join(threads[i], NULL);
    for (int i = 0; i < kThreads; ++i) {
        if (mismatches[i] != 0)
            fprintf(stderr, "thread %d: %d of %d rounds differ\n", i, mismatches[i], kRounds);
        CHECK(mismatches[i] == 0);
    }
    closeSpectrometer_();
    printf("threads host: %d threads x %d rounds, %u points per scan\n", kThreads, kRounds,
           reference.points);
    return failures == 0 ? 0 : 1;
}
