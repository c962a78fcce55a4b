// quillon scan against the simulated module: every output format carries the
// points the library measures, and a scan that fails says why with status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <sstream>

#include "cli_formats.h"
#include "cli_process.h"
#include "cli_reference.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

struct Point {
    double wavelength;
    double intensity;
};

// The rows of the aligned table (lines of two numbers after the column heading).
std::vector<Point> tableRows(const std::string& out) {
    std::vector<Point> rows;
    bool inTable = false;
    for (const std::string& line : lines(out)) {
        if (line.find("wavelength_nm") != std::string::npos) {
            inTable = true;
            continue;
        }
        if (!inTable || line.empty() || line[0] == '#') continue;
        Point p{};
        char extra = 0;
        if (std::sscanf(line.c_str(), "%lf %lf %c", &p.wavelength, &p.intensity, &extra) == 2)
            rows.push_back(p);
        else
            ADD_FAILURE() << "not a table row: '" << line << "'";
    }
    return rows;
}

void expectSameSpectrum(const std::vector<Point>& got, const LibraryView& want, double tolerance,
                        const char* format) {
    ASSERT_EQ(got.size(), want.points) << format;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].wavelength, want.wavelengths[i], tolerance) << format << " point " << i;
        EXPECT_EQ(got[i].intensity, want.intensities[i]) << format << " point " << i;
    }
}

TEST(CliScan, TableCsvJsonAndPlotCarryTheLibrarysPoints) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const std::map<std::string, std::optional<std::string>> env = {
        {"QUILLONLIB_SIMULATOR_STATE", state}};

    auto table = runQuillon({"scan", "--csv", "spectrum.csv", "--plot", "spectrum.svg"}, env);
    ASSERT_EQ(table.status, 0) << table.err;
    auto json = runQuillon({"scan", "--json"}, env);
    ASSERT_EQ(json.status, 0) << json.err;
    const LibraryView library = viewThroughLibrary(state);
    ASSERT_TRUE(library.ok) << library.error;
    ASSERT_GT(library.points, 0u);

    // The header: versions as the module reports them, and the active position.
    char versions[128];
    std::snprintf(versions, sizeof versions,
                  "# Module versions: 0x%08X 0x%08X 0x%08X 0x%08X "
                  "0x%08X 0x%08X 0x%08X\n",
                  library.versions[0], library.versions[1], library.versions[2],
                  library.versions[3], library.versions[4], library.versions[5],
                  library.versions[6]);
    EXPECT_EQ(table.out.rfind(versions, 0), 0u) << table.out.substr(0, 200);
    EXPECT_NE(
        table.out.find("# Active configuration: position " + std::to_string(library.activeIndex)),
        std::string::npos);
    expectSameSpectrum(tableRows(table.out), library, 0.0005, "table");

    // CSV: a header line and one line per point.
    std::vector<std::string> csv = lines(readFile(dir.path() + "/spectrum.csv"));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0], "wavelength_nm,intensity");
    std::vector<Point> csvPoints;
    for (size_t i = 1; i < csv.size(); ++i) {
        Point p{};
        ASSERT_EQ(std::sscanf(csv[i].c_str(), "%lf,%lf", &p.wavelength, &p.intensity), 2) << csv[i];
        csvPoints.push_back(p);
    }
    expectSameSpectrum(csvPoints, library, 1e-6, "csv");

    // JSON: one document on standard output.
    Json doc;
    std::string error;
    ASSERT_TRUE(parseJson(json.out, doc, error)) << error << "\n" << json.out.substr(0, 300);
    EXPECT_EQ(doc["configuration"]["position"].number, library.activeIndex);
    EXPECT_EQ(doc["versions"].numbers(),
              std::vector<double>(library.versions.begin(), library.versions.end()));
    ASSERT_EQ(doc["scans"].items.size(), 1u);
    const Json& scan = doc["scans"].items[0];
    EXPECT_EQ(scan["points"].number, library.points);
    std::vector<double> wl = scan["wavelength_nm"].numbers(), in = scan["intensity"].numbers();
    ASSERT_EQ(in.size(), wl.size());
    std::vector<Point> jsonPoints;
    for (size_t i = 0; i < wl.size(); ++i) jsonPoints.push_back({wl[i], in[i]});
    expectSameSpectrum(jsonPoints, library, 1e-6, "json");

    // SVG: well-formed, labelled, and one line through every point, placed
    // linearly by wavelength and intensity.
    XmlElement svg;
    ASSERT_TRUE(parseXml(readFile(dir.path() + "/spectrum.svg"), svg, error)) << error;
    EXPECT_EQ(svg.name, "svg");
    EXPECT_EQ(svg.attributes["xmlns"], "http://www.w3.org/2000/svg");
    std::string texts;
    for (const XmlElement* text : findAll(svg, "text")) texts += text->text + "|";
    EXPECT_NE(texts.find("Wavelength (nm)"), std::string::npos) << texts;
    EXPECT_NE(texts.find("Intensity (counts)"), std::string::npos) << texts;
    EXPECT_GE(findAll(svg, "text").size(), 8u) << "tick labels";
    ASSERT_EQ(findAll(svg, "title").size(), 1u);
    EXPECT_FALSE(findAll(svg, "title")[0]->text.empty());
    std::vector<const XmlElement*> lines = findAll(svg, "polyline");
    ASSERT_EQ(lines.size(), 1u);
    std::istringstream points(lines[0]->attributes.at("points"));
    std::vector<Point> plotted;
    for (std::string pair; points >> pair;) {
        Point p{};
        ASSERT_EQ(std::sscanf(pair.c_str(), "%lf,%lf", &p.wavelength, &p.intensity), 2) << pair;
        plotted.push_back(p);
    }
    ASSERT_EQ(plotted.size(), library.points);
    std::vector<size_t> order(library.points);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return library.wavelengths[a] < library.wavelengths[b];
    });
    const size_t lo = order.front(), hi = order.back();
    const double xScale = (plotted.back().wavelength - plotted.front().wavelength) /
                          (library.wavelengths[hi] - library.wavelengths[lo]);
    EXPECT_GT(xScale, 0);
    size_t maxAt = 0;
    for (size_t n = 0; n < order.size(); ++n) {
        const double x = plotted.front().wavelength +
                         (library.wavelengths[order[n]] - library.wavelengths[lo]) * xScale;
        EXPECT_NEAR(plotted[n].wavelength, x, 0.011) << "point " << n;
        if (library.intensities[order[n]] > library.intensities[order[maxAt]]) maxAt = n;
    }
    for (size_t n = 0; n < order.size(); ++n)  // the brightest point is drawn highest
        EXPECT_GE(plotted[n].intensity, plotted[maxAt].intensity - 0.006) << "point " << n;
}

TEST(CliScan, SeveralAveragedScansInOneRun) {
    ScratchDir dir;
    auto run = runQuillon({"scan", "--count", "3", "--interval", "0", "--average", "2", "--json",
                           "--csv", "series.csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    const LibraryView library = viewThroughLibrary("", false);
    Json doc;
    std::string error;
    ASSERT_TRUE(parseJson(run.out, doc, error)) << error;
    EXPECT_EQ(doc["average"].number, 2);
    ASSERT_EQ(doc["scans"].items.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(doc["scans"].items[k]["scan"].number, k + 1);
        EXPECT_EQ(doc["scans"].items[k]["wavelength_nm"].numbers().size(), library.points);
    }
    std::vector<std::string> csv = lines(readFile(dir.path() + "/series.csv"));
    ASSERT_EQ(csv.size(), 1 + 3 * library.points);
    EXPECT_EQ(csv[0], "scan,wavelength_nm,intensity");
    EXPECT_EQ(csv[1].rfind("1,", 0), 0u);
    EXPECT_EQ(csv.back().rfind("3,", 0), 0u);
}

// A module slower than its own estimate: with module time running four times
// slower than real time, the library gives up after three times the estimate.
TEST(CliScan, ScanThatTimesOutExitsOneWithTheLastErrorText) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    std::map<std::string, std::optional<std::string>> env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    // A short configuration, so that the time-out comes within a second.
    auto add = runQuillon({"config", "add", "Quick", "--section",
                           "type=Column,start=1000,end=1100,width=7.03,patterns=10,exposure=0.635"},
                          env);
    ASSERT_EQ(add.status, 0) << add.err;
    auto activate = runQuillon({"activate", "Quick"}, env);
    ASSERT_EQ(activate.status, 0) << activate.err;

    env["QUILLONLIB_SIMULATOR_TIME_SCALE"] = "4";
    auto scan = runQuillon({"scan", "--csv", "out.csv"}, env);
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find("quillon: scan failed: device return error"), std::string::npos)
        << scan.err;
    // The library's own console text goes to standard error, not into the output.
    EXPECT_NE(scan.err.find("quillonlib: Scan Failed"), std::string::npos) << scan.err;
    EXPECT_EQ(scan.out.find("Scan Failed"), std::string::npos) << scan.out;
    EXPECT_EQ(tableRows(scan.out).size(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/out.csv"));
}

}  // namespace

namespace {

// The bar goes to standard error only when that is a terminal, and is gone
// (line cleared) before the program ends; the table on standard output is the same.
TEST(CliScan, ProgressBarOnATerminalOnly) {
    ScratchDir dir;
    const std::map<std::string, std::optional<std::string>> slow = {
        {"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.2"}};
    auto terminal = runQuillonOnTerminal({"scan"}, slow);
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("\rscan ["), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find("%  0."), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find(" s of ~"), std::string::npos) << terminal.err;
    ASSERT_GE(terminal.err.size(), 4u);
    EXPECT_EQ(terminal.err.substr(terminal.err.size() - 4), "\r\033[K") << "line left behind";

    auto plain = runQuillon({"scan"}, slow);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out, terminal.out);
}

}  // namespace
