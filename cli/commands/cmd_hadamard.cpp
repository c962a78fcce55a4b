// quillon hadamard learn|check: measures the module's Hadamard table, and
// checks that the library decodes this module's Hadamard scans right.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "command_frame.h"
#include "exit_status.h"
#include "hadamard_matching.h"
#include "hadamard_probe.h"
#include "interrupt.h"
#include "learn_undo.h"
#include "library_console.h"
#include "library_hadamard_table.h"
#include "quillonlib.h"
#include "series_stream.h"

namespace quillon::cli {
namespace {

const char* const kHelp =
    "Usage: quillon hadamard learn --out FILE [--orders 19,23,...] [--scans N]\n"
    "       quillon hadamard check [--orders 19,23,...] [--scans N]\n"
    "\n"
    "A Hadamard section is measured in groups with S-matrices whose column order\n"
    "is the module's own data. The library knows that order for groups of up to\n"
    "11 patterns; for larger groups a module may use another, and its Hadamard\n"
    "spectra then come out scrambled.\n"
    "\n"
    "learn  measures the module's column order for every group size from 19 to\n"
    "       251 that its calibration can hold: it stores a temporary configuration\n"
    "       with the same patterns as a Hadamard and a Column section, scans it,\n"
    "       and matches the two until every pattern is told apart. It writes the\n"
    "       orders it learned to FILE; name that file in QUILLONLIB_HADAMARD_TABLE\n"
    "       for the library to decode with it. An order whose patterns cannot be\n"
    "       told apart is reported, never guessed. The residual of an order is\n"
    "       how far the Hadamard values, decoded with what was learned, lie from\n"
    "       the Column values.\n"
    "check  scans the same kind of configuration and tells, per order, whether the\n"
    "       library's decoding (with QUILLONLIB_HADAMARD_TABLE if named) agrees\n"
    "       with the Column readings.\n"
    "\n"
    "  --orders LIST  only these orders (primes 3 mod 4 from 19 to 251)\n"
    "  --scans N      scans per configuration, 2 to 50 (default 2)\n"
    "\n"
    "Afterwards the module's stored configurations and active position are as\n"
    "before, also after a failure or Ctrl-C (a second one ends the program at\n"
    "once); the lamp is left off.\n";

const OptionSpec kOptions[] = {{"out", true}, {"orders", true}, {"scans", true}};

bool parseOrders(const std::string& text, std::vector<int>& orders, std::string& why) {
    const std::vector<int> known = learnableOrders();
    std::set<int> chosen;
    size_t at = 0;
    while (at <= text.size()) {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string word = text.substr(at, comma - at);
        long value = 0;
        if (!parseInteger(word, 0, 100000, value) ||
            std::find(known.begin(), known.end(), value) == known.end()) {
            why = "'" + word + "' is not an order from 19 to 251 (a prime 3 mod 4)";
            return false;
        }
        chosen.insert(static_cast<int>(value));
        at = comma + 1;
    }
    orders.assign(chosen.begin(), chosen.end());
    return true;
}

std::string windowText(const TwinWindow& w) {
    return std::to_string(w.startNm) + "-" + std::to_string(w.endNm) + " nm, " +
           std::to_string(w.widthPixels) + "-column patterns";
}

std::string counts(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Scans of one window so far; their means make one observation of a group.
struct WindowScans {
    std::vector<std::vector<double>> hadamard, column;

    GroupObservation observation(double& noise) const {
        const MeanAndNoise z = meanOfScans(hadamard);
        const MeanAndNoise x = meanOfScans(column);
        noise = std::hypot(z.noise, x.noise);
        // Five standard deviations of the difference (the measured spread
        // includes the truncation of both readings), and one count for what
        // truncation shifts when the noise is too small to spread it.
        return GroupObservation{z.mean, x.mean, 5.0 * noise + 1.0};
    }
};

// Stores the twins of `window` and scans them until `scans` scans are in.
bool scanWindow(ProbeSession& probe, int order, const TwinWindow& window, int scans,
                const InterruptWatch& stop, WindowScans& into, std::string& why) {
    if (stop.requested() || !probe.store(order, window, why)) return false;
    while (static_cast<int>(into.hadamard.size()) < scans) {
        if (stop.requested()) return false;
        TwinScan scan;
        if (!probe.scan(order, scan, why)) return false;
        into.hadamard.push_back(std::move(scan.hadamard));
        into.column.push_back(std::move(scan.column));
    }
    return true;
}

// What became of each order, with its residual or the reason.
struct Tally {
    std::map<int, std::string> done;      // learned, or agreeing: the residual
    std::map<int, std::string> geometry;  // no window under this calibration: why
    std::map<int, std::string> failed;    // ambiguous, disagreeing or refused: why
};

std::string orderList(const std::map<int, std::string>& orders) {
    std::string text;
    for (const auto& entry : orders)
        text += (text.empty() ? "" : " ") + std::to_string(entry.first);
    return text;
}

void printSummary(FILE* out, const char* doneWord, const Tally& tally) {
    std::fprintf(out, "\n%zu orders %s: %s\n", tally.done.size(), doneWord,
                 orderList(tally.done).c_str());
    for (const auto& [order, residual] : tally.done)
        std::fprintf(out, "  %3d: %s\n", order, residual.c_str());
    if (!tally.geometry.empty())
        std::fprintf(out, "%zu orders not possible with this module's calibration: %s\n",
                     tally.geometry.size(), orderList(tally.geometry).c_str());
    for (const auto& [order, why] : tally.geometry)
        std::fprintf(out, "  %3d: %s\n", order, why.c_str());
    for (const auto& [order, why] : tally.failed)
        std::fprintf(out, "order %d: %s\n", order, why.c_str());
}

// Where a group of `order` patterns fits; when nowhere, the order is
// reported and tallied as impossible under this calibration.
std::vector<TwinWindow> plannedWindows(int order, FILE* out, Tally& tally) {
    std::string why;
    std::vector<TwinWindow> windows = windowsForOrder(order, why);
    if (windows.empty()) {
        std::fprintf(out, "order %d: not possible: %s\n", order, why.c_str());
        tally.geometry[order] = why;
    }
    return windows;
}

// How often the scans per window may double while members still read alike.
constexpr int kDoublings = 3;

// Learns one order; false when stopped or when the module failed.
bool learnOrder(ProbeSession& probe, int order, int scans, const InterruptWatch& stop, FILE* out,
                Tally& tally, std::map<int, std::vector<int>>& learned) {
    std::string why;
    const std::vector<TwinWindow> windows = plannedWindows(order, out, tally);
    if (windows.empty()) return true;
    // Every window is one more observation; when all are in and members still
    // read alike, every window is scanned again as often to lower the noise.
    std::vector<WindowScans> taken(windows.size());
    std::vector<size_t> accepted;
    double noise = 0.0;
    GroupMatcher matcher(order);
    GroupMatcher::Outcome outcome = GroupMatcher::Outcome::Ambiguous;
    for (int round = 0, perWindow = scans; round <= kDoublings; ++round, perWindow *= 2) {
        for (size_t w = 0; w < windows.size(); ++w) {
            if (round > 0 && std::find(accepted.begin(), accepted.end(), w) == accepted.end())
                continue;
            std::fprintf(out, "order %d: %s, %d scans\n", order, windowText(windows[w]).c_str(),
                         perWindow);
            std::fflush(out);
            if (!scanWindow(probe, order, windows[w], perWindow, stop, taken[w], why)) {
                if (stop.requested()) return false;
                std::fprintf(out, "order %d: %s\n", order, why.c_str());
                if (taken[w].hadamard.empty()) continue;  // refused: try the next window
                tally.failed[order] = why;
                return false;
            }
            if (round == 0) accepted.push_back(w);
            matcher = GroupMatcher(order);
            for (size_t a : accepted) matcher.add(taken[a].observation(noise));
            outcome = matcher.solve();
            if (outcome != GroupMatcher::Outcome::Ambiguous) break;
        }
        if (accepted.empty() || outcome != GroupMatcher::Outcome::Ambiguous) break;
    }
    if (outcome == GroupMatcher::Outcome::Unique) {
        learned[order] = modulePermutation(libraryColumns(order), matcher.sigma());
        size_t scansTaken = 0;
        for (size_t a : accepted) scansTaken += taken[a].hadamard.size();
        tally.done[order] = "residual " + counts(matcher.rmsResidual()) + " counts rms, " +
                            counts(matcher.maxResidual()) + " at most (noise " + counts(noise) +
                            ")";
        std::fprintf(out, "order %d: learned from %zu configuration%s, %zu scans; %s\n", order,
                     accepted.size(), accepted.size() == 1 ? "" : "s", scansTaken,
                     tally.done[order].c_str());
        return true;
    }
    if (accepted.empty()) {
        tally.failed[order] = "no configuration was accepted; not learned";
    } else if (outcome == GroupMatcher::Outcome::Impossible) {
        tally.failed[order] =
            "the decoded values are no rearrangement of the Column values within the noise; "
            "not learned";
    } else {
        std::string members;
        for (int j : matcher.ambiguousMembers()) members += " " + std::to_string(j);
        tally.failed[order] = "ambiguous after " + std::to_string(accepted.size()) +
                              " configurations: patterns" + members + " read alike; not learned";
    }
    std::fprintf(out, "order %d: %s\n", order, tally.failed[order].c_str());
    return true;
}

bool checkOrder(ProbeSession& probe, int order, int scans, const InterruptWatch& stop, FILE* out,
                Tally& tally) {
    std::string why;
    const std::vector<TwinWindow> windows = plannedWindows(order, out, tally);
    if (windows.empty()) return true;
    WindowScans taken;
    if (!scanWindow(probe, order, windows.front(), scans, stop, taken, why)) {
        if (stop.requested()) return false;
        tally.failed[order] = why;
        std::fprintf(out, "order %d: %s\n", order, why.c_str());
        return taken.hadamard.empty();
    }
    double noise = 0.0;
    const GroupObservation o = taken.observation(noise);
    int off = 0;
    double sum = 0.0, worst = 0.0;
    for (int k = 0; k < order; ++k) {
        const double d =
            std::abs(o.decoded[static_cast<size_t>(k)] - o.column[static_cast<size_t>(k)]);
        off += d > o.tolerance;
        sum += d * d;
        worst = std::max(worst, d);
    }
    const std::string residual = "residual " + counts(std::sqrt(sum / order)) + " counts rms, " +
                                 counts(worst) + " at most (noise " + counts(noise) + ")";
    if (off == 0) {
        tally.done[order] = residual;
        std::fprintf(out, "order %d: agrees, %s\n", order, residual.c_str());
    } else {
        tally.failed[order] = "differs at " + std::to_string(off) + " of " + std::to_string(order) +
                              " patterns, " + residual;
        std::fprintf(out, "order %d: %s\n", order, tally.failed[order].c_str());
    }
    return true;
}

bool writeTable(const std::string& path, const std::map<int, std::vector<int>>& learned) {
    return writeWholeFile(path, [&](FILE* file) {
        std::fprintf(file,
                     "# Hadamard S-matrix column permutations measured on the module by\n"
                     "# `quillon hadamard learn`. Name this file in QUILLONLIB_HADAMARD_TABLE;\n"
                     "# orders not listed keep the library's built-in lists.\n");
        for (const auto& [order, columns] : learned) {
            std::fprintf(file, "%d:", order);
            for (int c : columns) std::fprintf(file, " %d", c);
            std::fprintf(file, "\n");
        }
    });
}

}  // namespace

int runHadamard(const Words& words, GlobalOptions& global) {
    ParsedArguments args;
    if (auto done = beginCommand("hadamard", kHelp, words, kOptions, global, args)) return *done;
    if (args.positional.size() != 1 ||
        (args.positional[0] != "learn" && args.positional[0] != "check"))
        return usageError("hadamard", "say learn or check");
    const bool learning = args.positional[0] == "learn";
    const std::optional<std::string> outPath = args.value("out");
    if (learning && !outPath) return usageError("hadamard", "learn needs --out FILE");
    if (!learning && outPath) return usageError("hadamard", "--out belongs to learn");
    std::vector<int> orders = learnableOrders();
    if (auto list = args.value("orders")) {
        std::string why;
        if (!parseOrders(*list, orders, why)) return usageError("hadamard", why);
    }
    int scans = 2;
    if (auto text = args.value("scans")) {
        long value = 0;
        if (!parseInteger(*text, 2, 50, value))
            return usageError("hadamard",
                              "--scans needs a count from 2 to 50, not '" + *text + "'");
        scans = static_cast<int>(value);
    }
    // Learning compares against the built-in lists, so the library must not
    // decode with a table file in this process; it reads the variable only
    // when it first decodes a Hadamard section.
    if (learning) unsetenv("QUILLONLIB_HADAMARD_TABLE");

    FILE* out = LibraryConsole::out();
    // A signal stops the work between two library calls; the module is put
    // back as it was before the program ends.
    InterruptWatch stop;
    OpenModule module(global, &stop);
    if (!module.ok()) return kExitFailed;
    // Written down before anything changes, so the next command undoes a
    // run that is killed before it puts the module back itself.
    std::string why;
    std::vector<std::string> names;
    for (const ConfigView& config : readConfigurations()) names.push_back(config.name);
    const std::optional<int> activeAtStart = activePosition();
    if (!activeAtStart ||
        !recordLearnStart(global.device, names, *activeAtStart, kProbeConfigName, why)) {
        reportError(activeAtStart ? why : "the module's active position cannot be read");
        return kExitFailed;
    }
    ProbeSession probe;
    if (!probe.begin(why)) {
        clearLearnStart(global.device);
        reportError(why);
        return kExitFailed;
    }
    setLampStatus(1);
    Tally tally;
    std::map<int, std::vector<int>> learned;
    for (int order : orders) {
        const bool going = learning ? learnOrder(probe, order, scans, stop, out, tally, learned)
                                    : checkOrder(probe, order, scans, stop, out, tally);
        std::fflush(out);
        if (!going) break;
    }
    setLampStatus(0);
    const bool restored = probe.restore(why);
    if (restored) clearLearnStart(global.device);
    if (stop.requested()) {
        std::fprintf(stderr, "quillon: stopped by signal %d; %s\n", stop.signal(),
                     restored ? "the module's configurations and active position are as before"
                              : why.c_str());
        return stop.exitStatus();
    }
    if (!restored) {
        reportError(why);
        return kExitFailed;
    }
    printSummary(out, learning ? "learned" : "agree", tally);
    if (learning) {
        if (learned.empty()) {
            reportError("no order was learned; " + *outPath + " was not written");
            return kExitFailed;
        }
        // writeWholeFile has said why it could not.
        if (!writeTable(*outPath, learned)) return kExitFailed;
        std::fprintf(out, "Wrote %s\n", outPath->c_str());
    }
    return tally.failed.empty() && !tally.done.empty() ? kExitOk : kExitFailed;
}

}  // namespace quillon::cli
