// quillon limits: the values a configuration may take.
#include <cstdio>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "section_values.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon limits [--start NM --end NM --width W [--type Column|Hadamard]]\n"
    "\n"
    "Prints the scan types, the pattern widths, the exposure times and the pattern\n"
    "count range of a configuration; no module is needed for these.\n"
    "With --start, --end and --width it also opens the module and prints the largest\n"
    "pattern count a section of that range and width admits under the module's\n"
    "calibration, for the given type or for both.\n";

const OptionSpec kOptions[] = {{"start", true}, {"end", true}, {"width", true}, {"type", true}};

void printTables(FILE* out) {
    std::fprintf(out, "Scan types:");
    for (int i = 0; i < getScanTypesNumber(); ++i) std::fprintf(out, " %s", getScanTypesName(i));
    std::fprintf(out, "\nPattern widths (width=, with the width in pixels):\n");
    const unsigned widths = getWidthPixelsNumber();
    for (unsigned i = 0; i < widths; ++i)
        std::fprintf(out, "  %6.2f (%2u px)%s", getWidthPixel(static_cast<int>(i)), i + 2,
                     (i % 6 == 5 || i + 1 == widths) ? "\n" : "");
    std::fprintf(out, "Exposure times (exposure=):");
    for (unsigned i = 0; i < getExposureTimesNumber(); ++i)
        std::fprintf(out, " %g", getExposureTime(static_cast<int>(i)));
    unsigned int minimum = 0, maximum = 0;
    getPatternsRange(&minimum, &maximum);
    std::fprintf(out, "\nPatterns per configuration: %u to %u, in at most %u sections\n", minimum,
                 maximum, kMaxSections);
    std::fprintf(out, "Wavelengths: %u to %u nm\n", kMinWavelengthNm, kMaxWavelengthNm);
}

}  // namespace

int runLimits(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("limits", kHelp, words, kOptions, global, args)) return *done;
    if (!args.positional.empty())
        return usageError("limits", "unexpected '" + args.positional[0] + "'");
    const bool wantsMaximum =
        args.has("start") || args.has("end") || args.has("width") || args.has("type");
    if (!wantsMaximum) {
        printTables(LibraryConsole::out());
        return kExitOk;
    }
    if (!args.has("start") || !args.has("end") || !args.has("width"))
        return usageError("limits", "the largest pattern count needs --start, --end and --width");
    unsigned long start = 0, end = 0;
    if (!parseUnsigned(*args.value("start"), 0, 65535, start))
        return usageError("limits", "--start needs whole nanometres");
    if (!parseUnsigned(*args.value("end"), 0, 65535, end))
        return usageError("limits", "--end needs whole nanometres");
    if (auto why = checkRange(static_cast<unsigned>(start), static_cast<unsigned>(end)))
        return usageError("limits", *why);
    double width = 0;
    if (!parseFiniteDouble(*args.value("width"), width))
        return usageError("limits", "--width '" + *args.value("width") + "' is not a number");
    std::optional<unsigned> widthIndex = widthIndexOf(width);
    if (!widthIndex)
        return usageError("limits", "width " + *args.value("width") + " is not a pattern width; " +
                                        nearestWidths(width));
    std::vector<unsigned> types;
    if (auto name = args.value("type")) {
        std::optional<unsigned> type = scanTypeNamed(*name);
        if (!type)
            return usageError("limits", "unknown scan type '" + *name + "' (Column or Hadamard)");
        types.push_back(*type);
    } else {
        for (int t = 0; t < getScanTypesNumber(); ++t) types.push_back(static_cast<unsigned>(t));
    }

    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();
    for (unsigned type : types) {
        const int most = getMaxPattern("", static_cast<int>(start), static_cast<int>(end),
                                       static_cast<unsigned char>(*widthIndex + 2), type, 0);
        std::fprintf(out, "Largest %s pattern count for %lu-%lu nm at width %.2f (%u px): %d\n",
                     getScanTypesName(static_cast<int>(type)), start, end,
                     getWidthPixel(static_cast<int>(*widthIndex)), *widthIndex + 2, most);
    }
    return kExitOk;
}

}  // namespace quillon::cli
