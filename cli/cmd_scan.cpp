// quillon scan: measure with the active configuration and write the spectrum.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "command_frame.h"
#include "exit_status.h"
#include "interrupt.h"
#include "library_console.h"
#include "quillonlib.h"
#include "scan_runner.h"
#include "series_stream.h"
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
    "  --count K       K spectra, one after the other; 0: until interrupted\n"
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
    "written. CSV rows are written as each spectrum completes. Ctrl-C (or SIGTERM)\n"
    "stops the series cleanly: the spectrum in progress is dropped, the lamp is\n"
    "switched off, the outputs hold the spectra completed before, and the status is\n"
    "130 (143 for SIGTERM); Ctrl-C again stops at once.\n";

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
    if (auto text = args.value("count"); text && !parseUnsigned(*text, 0, 1000000, request.count))
        return usageError("scan", "--count needs a count from 0 to 1000000, not '" + *text + "'");
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

// The module's side of the header: versions, the active configuration and its estimate.
bool describeModule(ScanSeries& series, unsigned& points) {
    std::array<unsigned, 7> v{};
    if (getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]) == 0) series.versions = v;
    series.position = activePosition();
    std::optional<unsigned> active = activePoints();
    if (!active) {
        reportLibraryFailure(
            "no configuration is active" +
            (series.position ? " at position " + std::to_string(*series.position) : std::string()) +
            "; choose one with: quillon activate");
        return false;
    }
    if (*active == 0) {
        reportError("the active configuration has no patterns to scan");
        return false;
    }
    points = *active;
    const std::vector<ConfigView> configs = readConfigurations();
    std::vector<const ConfigView*> names = candidatesFor(configs, points);
    if (names.size() == 1) series.configuration = *names.front();
    for (const ConfigView* config : names) series.candidateNames.push_back(config->name);
    series.estimatedScanMs = getEstimatedScanTime();
    return true;
}

}  // namespace

int runScan(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("scan", kHelp, words, kOptions, global, args)) return *done;
    ScanRequest request;
    if (auto status = parseRequest(args, request)) return *status;

    // Outlives the module, so a second signal also cuts the closing short.
    InterruptWatch interrupt;
    OpenModule module(global, &interrupt);
    if (!module.ok()) return interrupt.requested() ? interrupt.exitStatus() : kExitFailed;
    FILE* out = LibraryConsole::out();
    ScanSeries series;
    series.average = static_cast<unsigned>(request.average);
    MeasureOptions measure;
    if (!describeModule(series, measure.points)) return kExitFailed;
    if (request.table) {
        writeScanHeader(out, series);
        std::fflush(out);
    }
    measure.average = series.average;
    measure.progress = isatty(STDERR_FILENO) == 1;
    measure.interrupt = &interrupt;
    const bool several = request.count != 1;
    std::optional<CsvStream> csv;
    if (!request.csvPath.empty()) csv.emplace(request.csvPath, several);

    // The module measures the light its lamp sends back; without it only stray light.
    if (request.switchLamp) setLampStatus(1);
    int status = kExitOk;
    const auto first = std::chrono::steady_clock::now();
    const auto interval = std::chrono::duration<double>(request.intervalSeconds);
    for (unsigned long k = 1; request.count == 0 || k <= request.count; ++k) {
        const auto due = first + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                     interval * static_cast<double>(k - 1));
        if (!interrupt.sleepUntil(due)) break;
        ScanResult scan;
        scan.number = static_cast<unsigned>(k);
        scan.startedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
        measure.label = "scan";
        if (several) measure.label += " " + std::to_string(k);
        if (request.count > 1) measure.label += "/" + std::to_string(request.count);
        const Measured measured = measureSpectrum(measure, scan.spectrum);
        if (measured == Measured::Abandoned) break;
        if (measured == Measured::Failed) {
            status = kExitFailed;
            break;
        }
        series.scans.push_back(std::move(scan));
        if (request.table) {
            writeTable(out, series, series.scans.back(), several);
            std::fflush(out);
        }
        if (csv && !csv->add(series, series.scans.back())) {
            status = kExitFailed;
            break;
        }
    }
    if (request.switchLamp) setLampStatus(0);
    if (interrupt.requested()) status = interrupt.exitStatus();
    if (series.scans.empty()) return status;
    if (request.json) writeJson(out, series);
    if (!request.plotPath.empty() && !writeWholeFile(request.plotPath, writeSvg, series))
        status = kExitFailed;
    return status;
}

}  // namespace quillon::cli
