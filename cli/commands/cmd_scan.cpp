// quillon scan: measure with the active configuration and write the spectrum.
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "command_frame.h"
#include "exit_status.h"
#include "file_options.h"
#include "interrupt.h"
#include "library_console.h"
#include "library_hadamard_table.h"
#include "module_handle.h"
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
    "                    [--lamp on|off|keep] [--warmup SECONDS]\n"
    "                    [--reference FILE [--dark FILE] [--reflectance|--absorbance]]\n"
    "                    [--grid START:STEP:END] [--xunits nm|cm-1]\n"
    "                    [--sample NAME] [--comment TEXT]\n"
    "\n"
    "Scans with the module's active configuration and prints the spectrum, one\n"
    "wavelength (nm) and dark-corrected intensity per configured pattern, after a\n"
    "short header (module versions, active configuration, estimated scan time).\n"
    "\n"
    "  --average N     each spectrum is the mean of N scans (done on this computer)\n"
    "  --count K       K spectra, one after the other; 0: until interrupted\n"
    "  --interval S    start a spectrum every S seconds (with --count)\n"
    "  --csv FILE      also write CSV with a header line to FILE\n"
    "  --json          JSON on standard output instead of the table\n"
    "  --plot FILE.svg an SVG plot of the spectrum against wavelength\n"
    "  --jcamp FILE    also write JCAMP-DX 4.24 to FILE; with --count, one file per\n"
    "                  spectrum: FILE-1.jdx, FILE-2.jdx, ...\n"
    "                  '-' as FILE of --csv, --plot or --jcamp: standard output,\n"
    "                  instead of the table (one output only, not with --json)\n"
    "  --lamp MODE     on: lamp on for the scans and off after them (default);\n"
    "                  off: scan with the lamp off (a dark spectrum); keep: leave\n"
    "                  it as it is (--keep-lamp says the same)\n"
    "  --warmup S      after switching the lamp on, wait S seconds (up to 3600) for\n"
    "                  its light to settle before the first scan\n"
    "  --grid START:STEP:END  interpolate each spectrum linearly onto this even\n"
    "                  grid (nm) in every output but the plot; JCAMP-DX then has the\n"
    "                  even ##XYDATA=(X++(Y..Y)) form; a grid reaching outside the\n"
    "                  measured range is refused\n"
    "  --xunits U      nm (default) or cm-1: CSV, JSON and JCAMP-DX give wavenumbers\n"
    "                  (10^7 / nm, ascending); the table and plot stay in nm\n"
    "  --sample NAME   what was measured: JSON \"sample\", the JCAMP-DX ##TITLE and\n"
    "                  the plot's title\n"
    "  --comment TEXT  JSON \"comment\", JCAMP-DX ##SAMPLE DESCRIPTION\n"
    "\n"
    "Reflectance and absorbance (the averaging is done on the intensities first):\n"
    "  --reference FILE  a white reference, a spectrum scanned earlier (CSV, JSON or\n"
    "                  JCAMP-DX, from quillon or the Python package); the output is\n"
    "                  then absorbance unless --reflectance\n"
    "  --dark FILE     a dark spectrum (scanned with --lamp off); without it D = 0\n"
    "  --reflectance   R = (S - D) / (W - D) for the scan S and reference W\n"
    "  --absorbance    A = -log10(R)\n"
    "A point where S - D or W - D is not above 0 has no value (nan in the table\n"
    "and CSV, null in JSON, ? in JCAMP-DX, left out of the plot); how many, and how\n"
    "many reflectances lie outside 0..1.5, is said on standard error. A reference\n"
    "file that cannot be used (or holds no light above the dark) ends with status 2\n"
    "before the module is opened; one whose point count differs from the active\n"
    "configuration's, with status 2 before anything is scanned; one whose\n"
    "wavelengths differ from the scan's ends with status 1, writing nothing.\n"
    "A table file named by QUILLONLIB_HADAMARD_TABLE that the library will not use\n"
    "is named on standard error, with the reason, before scanning.\n"
    "\n"
    "On a terminal a progress bar on standard error follows the module's estimate.\n"
    "A failed scan ends with status 1; the spectra measured before it are still\n"
    "written. CSV rows are written as each spectrum completes. Ctrl-C (or SIGTERM)\n"
    "stops the series cleanly: the spectrum in progress is dropped, the lamp is\n"
    "switched off if scan switched it on, the outputs hold the spectra completed\n"
    "before, and the status is 130 (143 for SIGTERM); Ctrl-C again stops at once.\n";

const OptionSpec kOptions[] = {{"average", true},     {"count", true},   {"interval", true},
                               {"csv", true},         {"json", false},   {"plot", true},
                               {"keep-lamp", false},  {"lamp", true},    {"jcamp", true},
                               {"reference", true},   {"dark", true},    {"reflectance", false},
                               {"absorbance", false}, {"grid", true},    {"xunits", true},
                               {"sample", true},      {"comment", true}, {"warmup", true}};

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
    double warmupSeconds = 0;
    QuantityRequest quantity;
    FileOptions files;
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
    if (auto text = args.value("warmup")) {
        if (!parseFiniteDouble(*text, request.warmupSeconds) || request.warmupSeconds < 0 ||
            request.warmupSeconds > 3600)
            return usageError("scan", "--warmup needs seconds from 0 to 3600, not '" + *text + "'");
        if (request.lamp == LampPolicy::Off)
            return usageError("scan", "--warmup waits for the lamp; not with --lamp off");
    }
    if (auto path = args.value("csv")) request.csvPath = *path;
    if (auto path = args.value("plot")) request.plotPath = *path;
    if (auto path = args.value("jcamp")) request.jcampPath = *path;
    std::vector<std::string> toStandardOutput;
    if (request.json) toStandardOutput.push_back("--json");
    for (auto [option, path] : {std::pair{"--csv", &request.csvPath},
                                {"--plot", &request.plotPath},
                                {"--jcamp", &request.jcampPath}})
        if (*path == "-") toStandardOutput.push_back(std::string(option) + " -");
    if (toStandardOutput.size() > 1)
        return usageError("scan", toStandardOutput[0] + " and " + toStandardOutput[1] +
                                      " both want standard output");
    request.table = toStandardOutput.empty();
    if (!request.plotPath.empty() && request.plotPath != "-" &&
        (request.plotPath.size() < 5 ||
         strcasecmp(request.plotPath.c_str() + request.plotPath.size() - 4, ".svg") != 0))
        return usageError("scan", "--plot writes SVG: name a file ending in .svg, not '" +
                                      request.plotPath + "'");
    if (auto status = request.files.prepare(args)) return status;
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

    // The library says so only in its log; a wrong table decodes wrong spectra.
    if (auto refusal = hadamardTableRefusal())
        reportError("QUILLONLIB_HADAMARD_TABLE " + *refusal +
                    "; Hadamard sections are decoded with the built-in table");

    // Outlives the module, so a second signal also cuts the closing short.
    InterruptWatch interrupt;
    ModuleHandle module(global, &interrupt);
    if (!module.ok()) return interrupt.requested() ? interrupt.exitStatus() : kExitFailed;
    size_t points = 0;
    if (quillon_point_count(module.get(), &points) == QUILLON_OK)
        if (auto status = request.quantity.checkPoints(points)) return *status;
    FILE* out = LibraryConsole::out();
    SeriesPlan plan;
    plan.count = request.count;
    plan.intervalSeconds = request.intervalSeconds;
    plan.average = static_cast<unsigned>(request.average);
    plan.lamp = request.lamp;
    plan.warmupSeconds = request.warmupSeconds;
    plan.quantity = request.quantity.basis();
    plan.files = request.files.labels();
    plan.progress = isatty(STDERR_FILENO) == 1;
    plan.module = module.get();
    LampSwitch lamp(module.get());
    SeriesRunner runner(std::move(plan), lamp);
    interrupt.onSignal([&runner] { runner.cancel(); });

    const bool several = request.count != 1;
    std::optional<CsvStream> csv;
    if (!request.csvPath.empty()) csv.emplace(request.csvPath, several);
    bool written = true;
    std::optional<std::string> unwritable;
    const SeriesEnd end = runner.run(
        [&](const ScanSeries& series) {
            if (!request.table) return;
            writeScanHeader(out, series);
            std::fflush(out);
        },
        [&](const ScanSeries& series, const ScanResult& scan) {
            if ((unwritable = request.files.refusal(scan.spectrum))) return false;
            if (request.table) {
                writeTable(out, series, scan, several);
                std::fflush(out);
            }
            written = !csv || csv->add(series, scan);
            return written;
        });
    interrupt.onSignal({});
    if (unwritable) {
        reportError(*unwritable);
        return kExitUsage;
    }
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
