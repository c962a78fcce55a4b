// quillon scan against the simulated module: every output format carries the
// points the library measures, and a scan that fails says why with status 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

#include "cli_formats.h"
#include "cli_process.h"
#include "cli_reference.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

struct Point {
    double x, y;
};

// Two numbers from each item, as `format` reads them (its %c catches trailing text).
std::vector<Point> pairs(const std::vector<std::string>& items, const char* format) {
    std::vector<Point> out;
    for (const std::string& item : items) {
        Point p{};
        char extra = 0;
        if (std::sscanf(item.c_str(), format, &p.x, &p.y, &extra) == 2)
            out.push_back(p);
        else
            ADD_FAILURE() << "not a pair: '" << item << "'";
    }
    return out;
}

// The rows of the aligned table: the lines after the column heading.
std::vector<Point> tableRows(const std::string& out) {
    std::vector<std::string> rows;
    bool inTable = false;
    for (const std::string& line : lines(out)) {
        if (inTable && !line.empty() && line[0] != '#') rows.push_back(line);
        inTable = inTable || line.find("wavelength_nm") != std::string::npos;
    }
    return pairs(rows, "%lf %lf %c");
}

void expectSameSpectrum(const std::vector<Point>& got, const LibraryView& want, double tolerance,
                        const char* format) {
    ASSERT_EQ(got.size(), want.points) << format;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_NEAR(got[i].x, want.wavelengths[i], tolerance) << format << " point " << i;
        EXPECT_EQ(got[i].y, want.intensities[i]) << format << " point " << i;
    }
}

TEST(CliScan, TableCsvJsonAndPlotCarryTheLibrarysPoints) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    auto table = runQuillon({"scan", "--csv", "spectrum.csv", "--plot", "spectrum.svg"}, env);
    ASSERT_EQ(table.status, 0) << table.err;
    auto json = runQuillon({"scan", "--json"}, env);
    ASSERT_EQ(json.status, 0) << json.err;
    const LibraryView library = viewThroughLibrary(state);
    ASSERT_TRUE(library.ok) << library.error;
    ASSERT_GT(library.points, 0u);

    char versions[128];
    const auto& v = library.versions;
    std::snprintf(versions, sizeof versions,
                  "# Module versions: 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X 0x%08X\n", v[0],
                  v[1], v[2], v[3], v[4], v[5], v[6]);
    EXPECT_EQ(table.out.rfind(versions, 0), 0u) << table.out.substr(0, 200);
    EXPECT_NE(
        table.out.find("# Active configuration: position " + std::to_string(library.activeIndex)),
        std::string::npos);
    expectSameSpectrum(tableRows(table.out), library, 0.0005, "table");

    std::vector<std::string> csv = lines(readFile(dir.path() + "/spectrum.csv"));
    ASSERT_FALSE(csv.empty());
    EXPECT_EQ(csv[0], "wavelength_nm,intensity");
    expectSameSpectrum(pairs({csv.begin() + 1, csv.end()}, "%lf,%lf%c"), library, 1e-6, "csv");

    Json doc;
    ASSERT_TRUE(parseJson(json.out, doc)) << json.out.substr(0, 300);
    EXPECT_EQ(doc["configuration"]["position"].get<double>(), library.activeIndex);
    EXPECT_EQ(doc["versions"].get<std::vector<double>>(), std::vector<double>(v.begin(), v.end()));
    ASSERT_EQ(doc["scans"].size(), 1u);
    const Json& scan = doc["scans"][0];
    EXPECT_EQ(scan.at("points").get<double>(), library.points);
    const std::vector<double> wl = scan.at("wavelength_nm").get<std::vector<double>>(),
                              in = scan.at("intensity").get<std::vector<double>>();
    ASSERT_EQ(in.size(), wl.size());
    std::vector<Point> jsonPoints;
    for (size_t i = 0; i < wl.size(); ++i) jsonPoints.push_back({wl[i], in[i]});
    expectSameSpectrum(jsonPoints, library, 1e-6, "json");

    // SVG: well-formed, labelled, one line through every point in wavelength
    // order, placed linearly by wavelength, the brightest point drawn highest.
    const std::string svg = readFile(dir.path() + "/spectrum.svg");
    EXPECT_TRUE(xmlNests(svg)) << svg.substr(0, 300);
    EXPECT_NE(svg.find("xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
    EXPECT_NE(svg.find(">Wavelength (nm)</text>"), std::string::npos);
    EXPECT_NE(svg.find(">Intensity (counts)</text>"), std::string::npos);
    EXPECT_TRUE(std::regex_search(svg, std::regex("<title>[^<]+</title>")));
    std::smatch polyline;
    ASSERT_TRUE(std::regex_search(svg, polyline, std::regex("<polyline[^>]* points=\"([^\"]*)\"")));
    std::istringstream words(polyline[1].str());
    std::vector<Point> plotted =
        pairs({std::istream_iterator<std::string>(words), {}}, "%lf,%lf%c");
    ASSERT_EQ(plotted.size(), library.points);
    std::vector<Point> byWavelength;
    for (size_t i = 0; i < library.points; ++i)
        byWavelength.push_back({library.wavelengths[i], double(library.intensities[i])});
    std::stable_sort(byWavelength.begin(), byWavelength.end(),
                     [](const Point& a, const Point& b) { return a.x < b.x; });
    const Point &lo = byWavelength.front(), &hi = byWavelength.back();
    const double xScale = (plotted.back().x - plotted.front().x) / (hi.x - lo.x);
    EXPECT_GT(xScale, 0);
    size_t brightest = 0;
    for (size_t n = 0; n < plotted.size(); ++n) {
        EXPECT_NEAR(plotted[n].x, plotted.front().x + (byWavelength[n].x - lo.x) * xScale, 0.011)
            << "point " << n;
        if (byWavelength[n].y > byWavelength[brightest].y) brightest = n;
    }
    for (const Point& p : plotted) EXPECT_GE(p.y, plotted[brightest].y - 0.006);
}

TEST(CliScan, SeveralAveragedScansInOneRun) {
    ScratchDir dir;
    auto run = runQuillon({"scan", "--count", "3", "--interval", "0", "--average", "2", "--json",
                           "--csv", "series.csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    const LibraryView library = viewThroughLibrary("", false);
    Json doc;
    ASSERT_TRUE(parseJson(run.out, doc));
    EXPECT_EQ(doc["average"].get<double>(), 2);
    ASSERT_EQ(doc["scans"].size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(doc["scans"][k]["scan"].get<double>(), k + 1);
        EXPECT_EQ(doc["scans"][k]["wavelength_nm"].get<std::vector<double>>().size(),
                  library.points);
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
    Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    // A short configuration, so that the time-out comes within a second.
    ASSERT_EQ(runQuillon({"config", "add", "Quick", "--section",
                          "type=Column,start=1000,end=1100,width=7.03,patterns=10,exposure=0.635"},
                         env)
                  .status,
              0);
    ASSERT_EQ(runQuillon({"activate", "Quick"}, env).status, 0);
    env["QUILLONLIB_SIMULATOR_TIME_SCALE"] = "4";
    auto scan = runQuillon({"scan", "--csv", "out.csv"}, env);
    EXPECT_EQ(scan.status, 1);
    EXPECT_NE(scan.err.find("quillon: scan failed: the module did not answer in time"),
              std::string::npos)
        << scan.err;
    EXPECT_EQ(scan.out.find("Scan Failed"), std::string::npos) << scan.out;
    EXPECT_EQ(scan.out.find("wavelength_nm"), std::string::npos) << scan.out;
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/out.csv"));
}

// The bar goes to standard error only when that is a terminal, and is gone
// (line cleared) before the program ends; the table on standard output is the same.
TEST(CliScan, ProgressBarOnATerminalOnly) {
    ScratchDir dir;
    const Env slow = {{"QUILLONLIB_SIMULATOR_TIME_SCALE", "0.2"}};
    auto terminal = runQuillon({"scan"}, slow, true);
    ASSERT_EQ(terminal.status, 0) << terminal.err;
    EXPECT_NE(terminal.err.find("\rscan ["), std::string::npos) << terminal.err;
    EXPECT_NE(terminal.err.find(" s of ~"), std::string::npos) << terminal.err;
    ASSERT_GE(terminal.err.size(), 4u);
    EXPECT_EQ(terminal.err.substr(terminal.err.size() - 4), "\r\033[K") << "line left behind";
    auto plain = runQuillon({"scan"}, slow);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out, terminal.out);
}

}  // namespace
