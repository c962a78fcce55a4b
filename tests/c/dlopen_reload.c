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
#define LIVE_HEAP() __sanitizer_get_current_allocated_bytes()
#else
#define LIVE_HEAP() (mallinfo2().uordblks + mallinfo2().hblkhd)
#endif

enum { kDefaultCycles = 40, kWarmUp = 5, kTolerance = 16 * 1024 };

#include "host_checks.h"

/* Entries of a directory whose names end in `suffix` (all but . and .. for ""),
 * their contents appended to `text` when it is not null. */
static int scan(const char* path, const char* suffix, char** text, size_t* size) {
    int count = 0;
    DIR* dir = opendir(path);
    if (dir == NULL) return -1;
    for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
        size_t n = strlen(entry->d_name), s = strlen(suffix);
        if (entry->d_name[0] == '.' || n < s || strcmp(entry->d_name + n - s, suffix) != 0)
            continue;
        ++count;
        FILE* f = text != NULL ? fopen(entry->d_name, "rb") : NULL;
        if (f == NULL) continue;
        char chunk[4096];
        for (size_t got; (got = fread(chunk, 1, sizeof chunk, f)) > 0; *size += got) {
            *text = realloc(*text, *size + got + 1);
            memcpy(*text + *size, chunk, got);
            (*text)[*size + got] = '\0';
        }
        fclose(f);
    }
    closedir(dir);
    return count;
}

/* One use of the library through its own handle, which is then released. */
static void useOnce(const char* path) {
    void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        exit(1);
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
    unsigned count = 0, v[7] = {0}, length = 0;
    CHECK(enumerateDevices_(&count) == 0 && count == 1);
    CHECK(openSpectrometer_(0) == 0);
    CHECK(getVersions_(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0);
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
    /* And the simulator's object it loaded went with it. */
    void* simulator = dlopen("libquillon_sim.so", RTLD_NOW | RTLD_NOLOAD);
    CHECK(simulator == NULL);
    if (simulator != NULL) dlclose(simulator);
}

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const int cycles = argc > 2 ? atoi(argv[2]) : kDefaultCycles;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    setenv("QUILLONLIB_SIMULATOR_TIME_SCALE", "0", 1);
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    char scratch[] = "/tmp/quillon-reload-XXXXXX";
    if (mkdtemp(scratch) == NULL || chdir(scratch) != 0) return 2;

    static const char separator[] =
        "----------------------------------------------------------------------\n";
    const int descriptors = scan("/proc/self/fd", "", NULL, NULL);
    long recordsPerUse = -1, lastRecords = 0;
    size_t heapAtWarmUp = 0;
    for (int cycle = 0; cycle < cycles && failures == 0; ++cycle) {
        useOnce(argv[1]);
        CHECK(scan("/proc/self/fd", "", NULL, NULL) == descriptors);
        char* text = NULL;
        size_t size = 0;
        scan(".", ".log", &text, &size);
        /* Complete: the last record is the closing one, whole. */
        CHECK(text != NULL && size > 25 &&
              strcmp(text + size - 25, "Close NIR device success\n") == 0);
        long records = 0;
        for (const char* at = text; at != NULL && (at = strstr(at, separator)) != NULL;
             at += sizeof separator - 1)
            ++records;
        if (recordsPerUse < 0) recordsPerUse = records;
        CHECK(records == lastRecords + recordsPerUse);
        lastRecords = records;
        free(text);
        if (cycle + 1 == kWarmUp) heapAtWarmUp = LIVE_HEAP();
    }
    const size_t heapAtEnd = LIVE_HEAP();
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
        cycles, lastRecords, descriptors, heapAtWarmUp, heapAtEnd);

    char command[128];
    snprintf(command, sizeof command, "rm -rf %s", scratch);
    if (chdir("/") == 0 && system(command) != 0) fprintf(stderr, "could not remove %s\n", scratch);
    return failures == 0 ? 0 : 1;
}
