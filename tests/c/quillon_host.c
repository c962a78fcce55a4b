/* A C host on quillon.h alone, against two simulated modules at real time
 * scale: both listed with their serial numbers, both opened by path, both
 * scanned from two threads in about the time of one scan, and a scan stopped
 * from a signal handler, after which the next scan on that module works. */
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include "host_checks.h"
#include "quillon.h"

enum { kMaxPoints = 864 };

static void* lib;
static quillon_module* modules[2];
static volatile double cancelledAt;        /* written by the signal handler */
static __typeof__(&quillon_cancel) cancel; /* looked up before any signal comes */

static double nowMs(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Scan {
    quillon_module* module;
    quillon_result result;
    size_t points;
    double wavelengths[kMaxPoints];
    int32_t intensities[kMaxPoints];
};

static void* scanOn(void* arg) {
    LOAD(quillon_scan);
    struct Scan* scan = arg;
    scan->result = quillon_scan_(scan->module, scan->wavelengths, scan->intensities, kMaxPoints,
                                 &scan->points);
    return NULL;
}

static void onAlarm(int signal) {
    (void)signal;
    cancelledAt = nowMs();
    cancel(modules[0]);
}

static struct Scan first, second;

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    setenv("QUILLONLIB_SIMULATOR", "1", 1);
    setenv("QUILLONLIB_SIMULATOR_MODULES", "2", 1);
    setenv("QUILLONLIB_SIMULATOR_SERIALS", "ALPHA,BETA", 1);
    setenv("QUILLONLIB_SIMULATOR_TIME_SCALE", "1", 1);
    unsetenv("QUILLONLIB_SIMULATOR_STATE");
    lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == NULL) return 2;
    LOAD(quillon_list);
    LOAD(quillon_open);
    LOAD(quillon_close);
    LOAD(quillon_module_identity);
    LOAD(quillon_point_count);
    LOAD(quillon_scan);
    LOAD(quillon_result_text);
    cancel = (__typeof__(&quillon_cancel))dlsym(lib, "quillon_cancel");

    quillon_module_info infos[4];
    size_t count = 0;
    CHECK(quillon_list_(infos, 4, &count) == QUILLON_OK);
    CHECK(count == 2);
    if (count != 2) return 1;
    CHECK(strcmp(infos[0].serial, "ALPHA") == 0 && strcmp(infos[1].serial, "BETA") == 0);
    CHECK(strcmp(infos[0].path, infos[1].path) != 0);

    /* Opened by path, each the module listed there; a second handle is refused. */
    for (int i = 0; i < 2; ++i) CHECK(quillon_open_(infos[i].path, &modules[i]) == QUILLON_OK);
    if (modules[0] == NULL || modules[1] == NULL) return 1;
    quillon_module* again = NULL;
    CHECK(quillon_open_(infos[1].path, &again) == QUILLON_ERR_BUSY && again == NULL);
    quillon_module_info identity;
    CHECK(quillon_module_identity_(modules[1], &identity) == QUILLON_OK);
    CHECK(strcmp(identity.serial, "BETA") == 0 && strcmp(identity.path, infos[1].path) == 0);

    /* Too small an array: refused before anything is written. */
    size_t points = 0;
    CHECK(quillon_point_count_(modules[0], &points) == QUILLON_OK && points > 1);
    first.wavelengths[0] = -1.0;
    CHECK(quillon_scan_(modules[0], first.wavelengths, first.intensities, points - 1,
                        &first.points) == QUILLON_ERR_BUFFER_TOO_SMALL);
    CHECK(first.wavelengths[0] == -1.0);

    /* One scan alone, then one on each module from two threads at once. */
    first.module = modules[0];
    double start = nowMs();
    scanOn(&first);
    const double alone = nowMs() - start;
    CHECK(first.result == QUILLON_OK && first.points == points);
    second.module = modules[1];
    pthread_t threads[2];
    start = nowMs();
    CHECK(pthread_create(&threads[0], NULL, scanOn, &first) == 0);
    CHECK(pthread_create(&threads[1], NULL, scanOn, &second) == 0);
    pthread_join(threads[0], NULL);
    pthread_join(threads[1], NULL);
    const double both = nowMs() - start;
    CHECK(first.result == QUILLON_OK && second.result == QUILLON_OK);
    CHECK(second.points == points && first.wavelengths[0] > 800.0);
    CHECK(both <= 1.3 * alone);
    printf("one scan %.0f ms; two modules at once %.0f ms (%.2fx)\n", alone, both, both / alone);

    /* A scan stopped by a signal a third of the way in. */
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onAlarm;
    sigaction(SIGALRM, &action, NULL);
    struct itimerval timer = {{0, 0}, {0, (suseconds_t)(alone / 3 * 1000)}};
    setitimer(ITIMER_REAL, &timer, NULL);
    first.wavelengths[0] = -2.0;
    scanOn(&first);
    const double latency = nowMs() - cancelledAt;
    CHECK(first.result == QUILLON_ERR_CANCELLED);
    CHECK(first.wavelengths[0] == -2.0);
    CHECK(latency <= 100.0);
    printf("cancelled: %s, %.1f ms after the signal\n", quillon_result_text_(first.result),
           latency);
    /* The module finishes the stopped scan on its own; the next one works. */
    scanOn(&first);
    CHECK(first.result == QUILLON_OK && first.points == points);

    for (int i = 0; i < 2; ++i) quillon_close_(modules[i]);
    return failures == 0 ? 0 : 1;
}
