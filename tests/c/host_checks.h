/* What the plain C hosts share: counting failed checks, and loading an export
 * through dlsym with the type the public header gives it. */
#ifndef QUILLON_TESTS_HOST_CHECKS_H
#define QUILLON_TESTS_HOST_CHECKS_H

#include <dlfcn.h>
#include <stdio.h>

#include "quillonlib.h"

static int failures = 0;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

#define LOAD(name) __typeof__(&name) name##_ = (__typeof__(&name))dlsym(lib, #name)

#endif
