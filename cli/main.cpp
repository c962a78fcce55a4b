// quillon: the command-line face of the library, for people at a terminal.
#include <cstdio>
#include <cstring>

#include "quillonlib.h"

namespace {

int printTables() {
    std::printf("Scan types:\n");
    for (int i = 0; i < getScanTypesNumber(); ++i) std::printf("  %d  %s\n", i, getScanTypesName(i));
    std::printf("Pattern widths (pixels: value):\n");
    for (unsigned i = 0; i < getWidthPixelsNumber(); ++i)
        std::printf("  %2u: %6.2f\n", i + 2, getWidthPixel(static_cast<int>(i)));
    std::printf("Exposure times (index: value):\n");
    for (unsigned i = 0; i < getExposureTimesNumber(); ++i)
        std::printf("  %u: %6.3f\n", i, getExposureTime(static_cast<int>(i)));
    unsigned lo = 0, hi = 0;
    getPatternsRange(&lo, &hi);
    std::printf("Patterns per configuration: %u to %u\n", lo, hi);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "limits") == 0) return printTables();
    std::fprintf(stderr, "usage: quillon limits\n");
    return 2;
}
