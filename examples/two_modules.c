/*
 * two_modules: every attached module scanned at once, each from its own
 * thread, through quillon.h. Prints one line per module: its serial number,
 * the number of points and the spectrum's strongest point. Ctrl-C stops the
 * scans (quillon_cancel is safe in a signal handler).
 *
 *   cc two_modules.c $(pkg-config --cflags --libs quillonlib) -pthread -o two_modules
 *   QUILLONLIB_SIMULATOR=1 QUILLONLIB_SIMULATOR_MODULES=2 ./two_modules
 */
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "quillon.h"

enum { kMaxModules = 8 };

struct Job {
    quillon_module_info info;
    quillon_module* module;
    quillon_result result;
    size_t points;
    double* wavelengths;
    int32_t* intensities;
};

static struct Job jobs[kMaxModules];
static size_t opened;

static void stop(int signal) {
    (void)signal;
    for (size_t i = 0; i < opened; ++i) quillon_cancel(jobs[i].module);
}

static void* scan(void* arg) {
    struct Job* job = arg;
    size_t capacity = 0;
    job->result = quillon_point_count(job->module, &capacity);
    if (job->result != QUILLON_OK) return NULL;
    job->wavelengths = malloc(capacity * sizeof *job->wavelengths);
    job->intensities = malloc(capacity * sizeof *job->intensities);
    if (job->wavelengths == NULL || job->intensities == NULL) {
        job->result = QUILLON_ERR_NO_MEMORY;
        return NULL;
    }
    job->result =
        quillon_scan(job->module, job->wavelengths, job->intensities, capacity, &job->points);
    return NULL;
}

int main(void) {
    quillon_module_info infos[kMaxModules];
    size_t found = 0;
    quillon_result result = quillon_list(infos, kMaxModules, &found);
    if (result != QUILLON_OK || found == 0) {
        fprintf(stderr, "two_modules: no module found (%s)\n", quillon_result_text(result));
        return 1;
    }
    for (size_t i = 0; i < found && i < kMaxModules; ++i) {
        jobs[opened].info = infos[i];
        result = quillon_open(infos[i].path, &jobs[opened].module);
        if (result == QUILLON_OK)
            ++opened;
        else
            fprintf(stderr, "two_modules: %s: %s\n", infos[i].path, quillon_result_text(result));
    }
    signal(SIGINT, stop);

    pthread_t threads[kMaxModules];
    for (size_t i = 0; i < opened; ++i) pthread_create(&threads[i], NULL, scan, &jobs[i]);
    int status = opened > 0 ? 0 : 1;
    for (size_t i = 0; i < opened; ++i) {
        pthread_join(threads[i], NULL);
        struct Job* job = &jobs[i];
        if (job->result != QUILLON_OK) {
            printf("%s: %s\n", job->info.serial, quillon_result_text(job->result));
            status = 1;
        } else {
            size_t peak = 0;
            for (size_t p = 1; p < job->points; ++p)
                if (job->intensities[p] > job->intensities[peak]) peak = p;
            printf("%s: %zu points, strongest %d at %.1f nm\n", job->info.serial, job->points,
                   job->intensities[peak], job->wavelengths[peak]);
        }
        free(job->wavelengths);
        free(job->intensities);
        quillon_close(job->module);
    }
    return status;
}
