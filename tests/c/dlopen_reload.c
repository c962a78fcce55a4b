/* Loads and unloads the shared object again and again, as a host that uses a
 * module now and then would. Every cycle opens the simulated module, logs,
 * measures and closes; after each dlclose the library must really be gone,
 * its log file closed and complete, and no descriptor or memory left behind. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "quillonlib.h"

#if defined(__SANITIZE_ADDRESS__)
size_t __sanitizer_get_current_allocated_bytes(void);
static size_t liveHeap(void) {
    return __sanitizer_get_current_allocated_bytes();
}
#else
static size_t liveHeap(void) {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}
#endif

enum { kDefaultCycles = 40, kWarmUp = 5, kTolerance = 16 * 1024 };

static int failures = 0;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

#define LOAD(name) __typeof__(&name) name##_ = (__typeof__(&name))dlsym(lib, #name)

static int openDescriptors(void) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == NULL) return -1;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL)
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

/* All log files of the working directory, one after another. */
static char* readLogs(size_t* size) {
    char* text = NULL;
    *size = 0;
    DIR* dir = opendir(".");
    if (dir == NULL) return NULL;
    struct dirent* entry;
    while ((entry = readdir(dir)) != NULL) {
        size_t n = strlen(entry->d_name);
        if (n < 4 || strcmp(entry->d_name + n - 4, ".log") != 0) continue;
        FILE* f = fopen(entry->d_name, "rb");
        if (f == NULL) continue;
        char chunk[4096];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) {
            text = realloc(text, *size + got + 1);
            memcpy(text + *size, chunk, got);
            *size += got;
        }
        fclose(f);
    }
    closedir(dir);
    if (text != NULL) text[*size] = '\0';
    return text;
}

static long countRecords(const char* text) {
    static const char separator[] =
        "----------------------------------------------------------------------\n";
    long records = 0;
    for (const char* at = text; at != NULL && (at = strstr(at, separator)) != NULL;
         at += sizeof separator - 1)
        ++records;
    return records;
}

/* One use of the library: the number of records it logged, or -1. */
static int useOnce(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return -1;
    }
    LOAD(setLogSwitch);
    LOAD(enumerateDevices);
    LOAD(openSpectrometer);
    LOAD(closeSpectrometer);
    LOAD(getVersions);
    LOAD(getFormattedSpectrumLengths);
    LOAD(getFormattedSpectrum);
    LOAD(getLastException);
    setLogSwitch_(1);
    unsigned count = 0;
    CHECK(enumerateDevices_(&count) == 0 && count == 1);
    CHECK(openSpectrometer_(0) == 0);
    unsigned v[7] = {0};
    CHECK(getVersions_(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0);
    unsigned length = 0;
    CHECK(getFormattedSpectrumLengths_(&length) == 0 && length == 228);
    double nm[228];
    int counts[228];
    CHECK(getFormattedSpectrum_(nm, counts) == 0);
    CHECK(strcmp(getLastException_(), "no error") == 0);
    closeSpectrometer_();
    CHECK(dlclose(lib) == 0);
    /* Gone for good: a second handle cannot be had without loading it anew. */
    void* again = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    CHECK(again == NULL);
    if (again != NULL) dlclose(again);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int kCycles = argc > 2 ? atoi(argv[2]) : kDefaultCycles;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    setenv("QUILLONLIB_SIMULATOR_TIME_SCALE", "0", 1);
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    char scratch[] = "/tmp/quillon-reload-XXXXXX";
    if (mkdtemp(scratch) == NULL || chdir(scratch) != 0) return 2;

    const int descriptors = openDescriptors();
    long recordsPerUse = -1;
    long lastRecords = 0;
    size_t heapAtWarmUp = 0;
    for (int cycle = 0; cycle < kCycles && failures == 0; ++cycle) {
        if (useOnce(argv[1]) != 0) return 1;
        CHECK(openDescriptors() == descriptors);
        size_t size = 0;
        char* text = readLogs(&size);
        CHECK(text != NULL && size > 0 && text[size - 1] == '\n');
        /* The last record is the closing one, whole. */
        CHECK(text != NULL && size > 25 &&
              strcmp(text + size - 25, "Close NIR device success\n") == 0);
        const long records = countRecords(text);
        if (recordsPerUse < 0) recordsPerUse = records;
        CHECK(records == lastRecords + recordsPerUse);
        lastRecords = records;
        free(text);
        if (cycle + 1 == kWarmUp) heapAtWarmUp = liveHeap();
    }
    const size_t heapAtEnd = liveHeap();
#if !defined(__SANITIZE_ADDRESS__)
    /* Under the sanitizer every load's static destructors take new slots in
     * the C library's exit-function list (its interceptor keeps the old ones
     * in use), so the live heap grows there without anything of ours in it;
     * LeakSanitizer still checks at exit. */
    CHECK(heapAtEnd <= heapAtWarmUp + kTolerance);
#endif
    printf(
        "dlopen reload: %d load/unload cycles, %ld log records, descriptors %d, live heap "
        "%zu -> %zu bytes\n",
        kCycles, lastRecords, descriptors, heapAtWarmUp, heapAtEnd);

    char command[128];
    snprintf(command, sizeof command, "rm -rf %s", scratch);
    if (chdir("/") == 0 && system(command) != 0) fprintf(stderr, "could not remove %s\n", scratch);
    if (failures == 0) printf("dlopen reload: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
