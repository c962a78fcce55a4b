// quillon scan: measure with the active configuration and write the spectrum.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "command_frame.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"
#include "scan_runner.h"
#include "spectrum_output.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon scan [--average N] [--count K [--interval SECONDS]]\n"
    "                    [--csv FILE] [--json] [--plot FILE.svg]\n"
    "\n"
    "Scans with the module's active configuration and prints the spectrum, one\n"
    "wavelength (nm) and dark-corrected intensity per configured pattern, after a\n"
    "short header (module versions, active configuration, estimated scan time).\n"
    "\n"
    "  --average N     each spectrum is the mean of N scans (done on this computer)\n"
    "  --count K       K spectra, one after the other\n"
    "  --interval S    start a spectrum every S seconds (with --count)\n"
    "  --csv FILE      also write CSV with a header line to FILE ('-': standard\n"
    "                  output, instead of the table)\n"
    "  --json          JSON on standard output instead of the table\n"
    "  --plot FILE     an SVG plot of intensity against wavelength\n"
    "  --keep-lamp     leave the lamp as it is; otherwise it is switched on for\n"
    "                  the scans and off after them\n"
    "\n"
    "On a terminal a progress bar on standard error follows the module's estimate.\n"
    "A failed scan ends with status 1; the spectra measured before it are still\n"
    "written.\n";

const OptionSpec kOptions[] = {{"average", true},   {"count", true}, {"interval", true},
                               {"csv", true},       {"json", false}, {"plot", true},
                               {"keep-lamp", false}};

struct ScanRequest {
    unsigned long average = 1;
    unsigned long count = 1;
    double intervalSeconds = 0;
    std::string csvPath;
    std::string plotPath;
    bool json = false;
    bool table = true;
    bool switchLamp = true;
};

bool directoryWritable(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    return access(dir.c_str(), W_OK) == 0;
}

std::optional<int> parseRequest(const ParsedArguments& args, ScanRequest& request) {
    if (!args.positional.empty())
        return usageError("scan", "unexpected '" + args.positional[0] + "'");
    if (auto text = args.value("average"); text && !parseUnsigned(*text, 1, 1000, request.average))
        return usageError("scan", "--average needs a count from 1 to 1000, not '" + *text + "'");
    if (auto text = args.value("count"); text && !parseUnsigned(*text, 1, 1000000, request.count))
        return usageError("scan", "--count needs a count from 1 to 1000000, not '" + *text + "'");
    if (auto text = args.value("interval")) {
        if (!args.has("count")) return usageError("scan", "--interval goes with --count");
        if (!parseFiniteDouble(*text, request.intervalSeconds) || request.intervalSeconds < 0 ||
            request.intervalSeconds > 86400)
            return usageError("scan",
                              "--interval needs seconds from 0 to 86400, not '" + *text + "'");
    }
    request.json = args.has("json");
    request.switchLamp = !args.has("keep-lamp");
    if (auto path = args.value("csv")) request.csvPath = *path;
    if (auto path = args.value("plot")) request.plotPath = *path;
    if (request.json && request.csvPath == "-")
        return usageError("scan", "--json and --csv - both want standard output");
    request.table = !request.json && request.csvPath != "-";
    for (const std::string* path : {&request.csvPath, &request.plotPath}) {
        if (path->empty() || *path == "-") continue;
        if (!directoryWritable(*path))
            return usageError("scan", "cannot write '" + *path + "': " + std::strerror(errno));
    }
    if (args.has("plot") && request.plotPath.empty())
        return usageError("scan", "--plot needs a file name");
    return std::nullopt;
}

bool writeFile(const std::string& path, void (*write)(FILE*, const ScanSeries&),
               const ScanSeries& series) {
    if (path == "-") {
        write(LibraryConsole::out(), series);
        return true;
    }
    FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        reportError("cannot write '" + path + "': " + std::strerror(errno));
        return false;
    }
    write(file, series);
    const bool ok = std::ferror(file) == 0;
    if (std::fclose(file) != 0 || !ok) {
        reportError("cannot write '" + path + "'");
        return false;
    }
    return true;
}

}  // namespace

int runScan(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("scan", kHelp, words, kOptions, global, args)) return *done;
    ScanRequest request;
    if (auto status = parseRequest(args, request)) return *status;

    OpenModule module(global);
    if (!module.ok()) return kExitFailed;
    FILE* out = LibraryConsole::out();
    ScanSeries series;
    series.average = static_cast<unsigned>(request.average);
    MeasureOptions measure;
    std::string why;
    if (!describeModule(series, measure.points, why)) {
        reportError(why);
        return kExitFailed;
    }
    if (request.table) {
        writeScanHeader(out, series);
        std::fflush(out);
    }
    measure.average = series.average;
    measure.progress = isatty(STDERR_FILENO) == 1;

    // The module measures the light its lamp sends back; without it only stray light.
    if (request.switchLamp) setLampStatus(1);
    int status = kExitOk;
    const auto first = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration<double>(request.intervalSeconds);
    for (unsigned long k = 1; k <= request.count; ++k) {
        const auto due = first + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     interval * static_cast<double>(k - 1));
        std::this_thread::sleep_until(due);
        ScanResult scan;
        scan.number = static_cast<unsigned>(k);
        scan.startedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
        measure.label = request.count > 1
                            ? "scan " + std::to_string(k) + "/" + std::to_string(request.count)
                            : "scan";
        if (!measureSpectrum(measure, scan.spectrum, why)) {
            reportError(why);
            status = kExitFailed;
            break;
        }
        series.scans.push_back(std::move(scan));
        if (request.table) {
            writeTable(out, series, series.scans.back(), request.count > 1);
            std::fflush(out);
        }
    }
    if (request.switchLamp) setLampStatus(0);
    if (series.scans.empty()) return status;
    if (request.json) writeJson(out, series);
    if (!request.csvPath.empty() && !writeFile(request.csvPath, writeCsv, series))
        status = kExitFailed;
    if (!request.plotPath.empty() && !writeFile(request.plotPath, writeSvg, series))
        status = kExitFailed;
    return status;
}

}  // namespace quillon::cli
