/*
 * scan_once: the shortest complete host of quillonlib. It finds the attached
 * module, opens it, scans once with the module's active configuration and
 * prints the spectrum as "wavelength<TAB>intensity" lines.
 *
 *   cc scan_once.c $(pkg-config --cflags --libs quillonlib) -o scan_once
 *   QUILLONLIB_SIMULATOR=1 ./scan_once      # against the simulated module
 */
#include <stdio.h>
#include <stdlib.h>

#include "quillonlib.h"

static int fail(const char* what) {
    fprintf(stderr, "scan_once: %s: %s\n", what, getLastException());
    return 1;
}

int main(void) {
    unsigned int count = 0;
    if (enumerateDevices(&count) != 0) return fail("no module found");
    if (openSpectrometer(0) != 0) {
        int status = fail("cannot open the module");
        closeSpectrometer();
        return status;
    }

    /* The library adds the number of points to the variable: start from 0. */
    unsigned int length = 0;
    if (getFormattedSpectrumLengths(&length) != 0 || length == 0) {
        closeSpectrometer();
        fprintf(stderr, "scan_once: no active configuration to scan with\n");
        return 1;
    }
    double* wavelengths = malloc(length * sizeof *wavelengths);
    int* intensities = malloc(length * sizeof *intensities);
    int status = 0;
    if (wavelengths == NULL || intensities == NULL) {
        fprintf(stderr, "scan_once: out of memory\n");
        status = 1;
    } else if (getFormattedSpectrum(wavelengths, intensities) != 0) {
        status = fail("scan failed");
    } else {
        printf("# %u points\n", length);
        for (unsigned int i = 0; i < length; ++i)
            printf("%.3f\t%d\n", wavelengths[i], intensities[i]);
    }
    free(wavelengths);
    free(intensities);
    closeSpectrometer();
    return status;
}
