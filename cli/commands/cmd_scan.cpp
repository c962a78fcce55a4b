// quillon scan: measure with the active configuration and write the spectrum.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "command_frame.h"
#include "exit_status.h"
#include "interrupt.h"
#include "library_console.h"
#include "quantity_request.h"
#include "quillonlib.h"
#include "series_runner.h"
#include "series_stream.h"
#include "spectrum_output.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon scan [--average N] [--count K [--interval SECONDS]]\n"
    "                    [--csv FILE] [--json] [--plot FILE.svg] [--jcamp FILE.jdx]\n"
    "                    [--lamp on|off|keep] [--reference FILE [--dark FILE]\n"
    "                    [--reflectance|--absorbance]]\n"
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
    "  --plot FILE     an SVG plot of the spectrum against wavelength\n"
    "  --jcamp FILE    also write JCAMP-DX 4.24 (XYPOINTS) to FILE; with --count, one\n"
    "                  file per spectrum: FILE-1.jdx, FILE-2.jdx, ...\n"
    "  --lamp MODE     on: lamp on for the scans and off after them (default);\n"
    "                  off: scan with the lamp off (a dark spectrum); keep: leave\n"
    "                  it as it is (--keep-lamp says the same)\n"
    "\n"
    "Reflectance and absorbance (the averaging is done on the intensities first):\n"
    "  --reference FILE  a white reference, a spectrum scanned earlier with --csv or\n"
    "                  --json; the output is then absorbance unless --reflectance\n"
    "  --dark FILE     a dark spectrum (scanned with --lamp off); without it D = 0\n"
    "  --reflectance   R = (S - D) / (W - D) for the scan S and reference W\n"
    "  --absorbance    A = -log10(R)\n"
    "A point where S - D or W - D is not above 0 has no value (nan in the table\n"
    "and CSV, null in JSON, ? in JCAMP-DX, left out of the plot); how many, and how\n"
    "many reflectances lie outside 0..1.5, is said on standard error. A reference\n"
    "file that cannot be used ends with status 2 before the module is opened; one\n"
    "whose wavelengths differ from the scan's ends with status 1, writing nothing.\n"
    "\n"
    "On a terminal a progress bar on standard error follows the module's estimate.\n"
    "A failed scan ends with status 1; the spectra measured before it are still\n"
    "written. CSV rows are written as each spectrum completes. Ctrl-C (or SIGTERM)\n"
    "stops the series cleanly: the spectrum in progress is dropped, the lamp is\n"
    "switched off if scan switched it on, the outputs hold the spectra completed\n"
    "before, and the status is 130 (143 for SIGTERM); Ctrl-C again stops at once.\n";

const OptionSpec kOptions[] = {{"average", true},    {"count", true}, {"interval", true},
                               {"csv", true},        {"json", false}, {"plot", true},
                               {"keep-lamp", false}, {"lamp", true},  {"jcamp", true},
                               {"reference", true},  {"dark", true},  {"reflectance", false},
                               {"absorbance", false}};

struct ScanRequest {
    unsigned long average = 1;
    unsigned long count = 1;
    double intervalSeconds = 0;
    std::string csvPath;
    std::string plotPath;
    std::string jcampPath;
    bool json = false;
    bool table = true;
    LampPolicy lamp = LampPolicy::On;
    QuantityRequest quantity;
};

std::optional<int> parseLamp(const ParsedArguments& args, LampPolicy& lamp) {
    std::optional<std::string> mode = args.value("lamp");
    if (args.has("keep-lamp")) {
        if (mode && *mode != "keep")
            return usageError("scan", "--keep-lamp and --lamp " + *mode + " contradict each other");
        mode = "keep";
    }
    if (!mode) return std::nullopt;
    const std::optional<LampPolicy> policy = lampPolicyNamed(*mode);
    if (!policy) return usageError("scan", "--lamp needs on, off or keep, not '" + *mode + "'");
    lamp = *policy;
    return std::nullopt;
}

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
    if (auto status = parseLamp(args, request.lamp)) return status;
    if (auto path = args.value("csv")) request.csvPath = *path;
    if (auto path = args.value("plot")) request.plotPath = *path;
    if (auto path = args.value("jcamp")) request.jcampPath = *path;
    if (request.json && request.csvPath == "-")
        return usageError("scan", "--json and --csv - both want standard output");
    request.table = !request.json && request.csvPath != "-";
    for (const std::string* path : {&request.csvPath, &request.plotPath, &request.jcampPath}) {
        if (path->empty() || *path == "-") continue;
        if (!directoryWritable(*path))
            return usageError("scan", "cannot write '" + *path + "': " + std::strerror(errno));
    }
    for (const char* option : {"plot", "jcamp"})
        if (args.has(option) && args.value(option)->empty())
            return usageError("scan", std::string("--") + option + " needs a file name");
    if (request.jcampPath == "-" && request.count != 1)
        return usageError("scan", "--jcamp - writes one spectrum; with --count name a file");
    return request.quantity.prepare(args);
}

bool writeJcampFiles(const std::string& path, unsigned long count, const ScanSeries& series) {
    bool ok = true;
    for (const ScanResult& scan : series.scans) {
        const std::string name = count == 1 ? path : numberedPath(path, scan.number);
        ok = writeWholeFile(name, [&](FILE* out) { writeJcamp(out, series, scan); }) && ok;
    }
    return ok;
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
    SeriesPlan plan;
    plan.count = request.count;
    plan.intervalSeconds = request.intervalSeconds;
    plan.average = static_cast<unsigned>(request.average);
    plan.lamp = request.lamp;
    plan.quantity = request.quantity.basis();
    plan.progress = isatty(STDERR_FILENO) == 1;
    LampSwitch lamp;
    SeriesRunner runner(std::move(plan), lamp);
    interrupt.onSignal([&runner] { runner.cancel(); });

    const bool several = request.count != 1;
    std::optional<CsvStream> csv;
    if (!request.csvPath.empty()) csv.emplace(request.csvPath, several);
    bool written = true;
    const SeriesEnd end = runner.run(
        [&](const ScanSeries& series) {
            if (!request.table) return;
            writeScanHeader(out, series);
            std::fflush(out);
        },
        [&](const ScanSeries& series, const ScanResult& scan) {
            if (request.table) {
                writeTable(out, series, scan, several);
                std::fflush(out);
            }
            written = !csv || csv->add(series, scan);
            return written;
        });
    interrupt.onSignal({});
    int status = kExitOk;
    if (end.kind == SeriesEnd::Unready || end.kind == SeriesEnd::Failed ||
        end.kind == SeriesEnd::Mismatch) {
        reportError(end.why);
        status = kExitFailed;
    }
    if (!written) status = kExitFailed;
    if (interrupt.requested()) status = interrupt.exitStatus();
    if (end.kind == SeriesEnd::Mismatch) return kExitFailed;
    if (const std::string tally = runner.tally().describe(); !tally.empty()) reportError(tally);
    const ScanSeries& series = runner.series();
    if (series.scans.empty()) return status;
    if (request.json) writeJson(out, series);
    if (!request.plotPath.empty() &&
        !writeWholeFile(request.plotPath, [&](FILE* out) { writeSvg(out, series); }))
        status = kExitFailed;
    if (!request.jcampPath.empty() && !writeJcampFiles(request.jcampPath, request.count, series))
        status = kExitFailed;
    return status;
}

}  // namespace quillon::cli
