// The measurement workflow against the simulated module: a dark spectrum, a
// white reference and a sample give reflectance and absorbance, every output
// names that quantity, JCAMP-DX files hold the CSV's points, and unusable
// references are refused before anything is written.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "cli_formats.h"
#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

struct Csv {
    std::string header;
    std::vector<double> x, y;  // y is NaN where the file says nan
};

Csv readCsv(const std::string& path) {
    Csv csv;
    for (const std::string& line : lines(readFile(path))) {
        if (csv.header.empty()) {
            csv.header = line;
            continue;
        }
        // The last two fields (a first one numbers the scan when there are several).
        const size_t last = line.rfind(','), before = line.rfind(',', last - 1);
        csv.x.push_back(std::stod(line.substr(before == std::string::npos ? 0 : before + 1)));
        csv.y.push_back(std::strtod(line.c_str() + last + 1, nullptr));  // also reads "nan"
    }
    return csv;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::set<std::string> filesIn(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(CliWorkflow, DarkReferenceAndSampleGiveReflectanceAndAbsorbance) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--lamp", "off", "--csv", "dark.csv"}).status, 0);
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    auto json = runQuillon({"scan", "--json"});
    ASSERT_EQ(json.status, 0) << json.err;
    writeText("white.json", json.out);
    const Csv dark = readCsv("dark.csv"), white = readCsv("white.csv");
    ASSERT_EQ(dark.header, "wavelength_nm,intensity");
    ASSERT_EQ(dark.x, white.x);
    ASSERT_GT(white.x.size(), 100u);
    // Lamp off, only stray light: a few percent of the lamp's light at most.
    double darkSum = 0, whiteSum = 0;
    for (size_t i = 0; i < white.y.size(); ++i) {
        EXPECT_LE(dark.y[i], 0.03 * white.y[i] + 1) << white.x[i];
        darkSum += dark.y[i], whiteSum += white.y[i];
    }
    EXPECT_GT(darkSum, 0);
    EXPECT_LT(darkSum, 0.03 * whiteSum);

    // The reference against itself, with and without the dark spectrum.
    auto self = runQuillon(
        {"scan", "--reference", "white.csv", "--reflectance", "--csv", "r.csv", "--plot", "r.svg"});
    ASSERT_EQ(self.status, 0) << self.err;
    EXPECT_EQ(self.err, "");
    EXPECT_NE(self.out.find("wavelength_nm   reflectance\n"), std::string::npos) << self.out;
    const Csv r = readCsv("r.csv");
    EXPECT_EQ(r.header, "wavelength_nm,reflectance");
    EXPECT_EQ(r.x, white.x);
    for (double value : r.y) EXPECT_EQ(value, 1.0);
    EXPECT_NE(readFile("r.svg").find(">Reflectance</text>"), std::string::npos);
    auto absorbance = runQuillon(
        {"scan", "--reference", "white.json", "--dark", "dark.csv", "--json", "--average", "2"});
    ASSERT_EQ(absorbance.status, 0) << absorbance.err;
    Json doc;
    ASSERT_TRUE(parseJson(absorbance.out, doc));
    EXPECT_EQ(doc.at("quantity"), "absorbance");
    EXPECT_EQ(doc.at("reference"), "white.json");
    const Json& scan = doc.at("scans").at(0);
    EXPECT_FALSE(scan.contains("intensity"));
    const std::vector<double> a = scan.at("absorbance").get<std::vector<double>>();
    ASSERT_EQ(a.size(), white.x.size());
    for (double value : a) EXPECT_EQ(value, 0.0);

    // A sample absorbing 60% of the light at 1300 nm (band width 15 nm).
    const Env sample = {{"QUILLONLIB_SIMULATOR_SAMPLE", "1300,15,0.6"}};
    auto band = runQuillon(
        {"scan", "--reference", "white.csv", "--dark", "dark.csv", "--csv", "a.csv"}, sample);
    ASSERT_EQ(band.status, 0) << band.err;
    const Csv s = readCsv("a.csv");
    EXPECT_EQ(s.header, "wavelength_nm,absorbance");
    size_t peak = 0;
    for (size_t i = 0; i < s.y.size(); ++i) {
        if (s.y[i] > s.y[peak]) peak = i;
        if (std::fabs(s.x[i] - 1300) > 80) {
            EXPECT_NEAR(s.y[i], 0.0, 0.01) << s.x[i];
        }
    }
    EXPECT_NEAR(s.x[peak], 1300, 5);
    EXPECT_NEAR(s.y[peak], -std::log10(0.4), 0.03);
}

TEST(CliWorkflow, PointsWithoutValueAndImplausibleReflectanceAreMarkedAndCounted) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--lamp", "off", "--csv", "dark.csv"}).status, 0);
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    // A band that takes away all the light near 1450 nm: below the dark level there.
    auto run = runQuillon({"scan", "--reference", "white.csv", "--dark", "dark.csv", "--csv",
                           "a.csv", "--jcamp", "a.jdx", "--plot", "a.svg", "--json"},
                          {{"QUILLONLIB_SIMULATOR_SAMPLE", "1450,40,1"}});
    ASSERT_EQ(run.status, 0) << run.err;
    const Csv csv = readCsv("a.csv");
    size_t undefined = 0;
    for (size_t i = 0; i < csv.y.size(); ++i) {
        if (!std::isnan(csv.y[i])) continue;
        EXPECT_NEAR(csv.x[i], 1450, 8);
        ++undefined;
    }
    ASSERT_GT(undefined, 0u);
    const std::string count =
        std::to_string(undefined) + " of " + std::to_string(csv.y.size()) + " points have no value";
    EXPECT_NE(run.err.find("quillon: " + count), std::string::npos) << run.err;
    EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    Json doc;
    ASSERT_TRUE(parseJson(run.out, doc));
    const Json& values = doc.at("scans").at(0).at("absorbance");
    for (size_t i = 0; i < csv.y.size(); ++i)
        EXPECT_EQ(values.at(i).is_null(), std::isnan(csv.y[i]));
    Jcamp jdx;
    ASSERT_TRUE(parseJcamp(readFile("a.jdx"), jdx));
    for (size_t i = 0; i < csv.y.size(); ++i)
        EXPECT_EQ(std::isnan(jdx.y.at(i)), std::isnan(csv.y[i]));
    std::smatch line;
    const std::string svg = readFile("a.svg");
    ASSERT_TRUE(std::regex_search(svg, line, std::regex("points=\"([^\"]*)\"")));
    const std::string points = line[1];
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), csv.y.size() - undefined);

    // The lamp-off spectrum as the reference: a hundred times too bright.
    auto swapped = runQuillon({"scan", "--reference", "dark.csv", "--reflectance"});
    ASSERT_EQ(swapped.status, 0) << swapped.err;
    EXPECT_NE(
        swapped.err.find(std::to_string(csv.y.size()) + " of " + std::to_string(csv.y.size()) +
                         " points have a reflectance outside 0..1.5"),
        std::string::npos)
        << swapped.err;
}

// A reader written from the format's rules, not from the writer, gets back
// the CSV's points; the header records agree with the data.
TEST(CliWorkflow, JcampFilesHoldTheCsvPoints) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    auto raw = runQuillon({"scan", "--average", "3", "--csv", "raw.csv", "--jcamp", "raw.jdx"});
    ASSERT_EQ(raw.status, 0) << raw.err;
    auto series = runQuillon(
        {"scan", "--count", "2", "--reference", "white.csv", "--csv", "s.csv", "--jcamp", "s.jdx"},
        {{"QUILLONLIB_SIMULATOR_SAMPLE", "1200,30,0.5"}});
    ASSERT_EQ(series.status, 0) << series.err;
    EXPECT_FALSE(std::filesystem::exists("s.jdx"));
    const Csv seriesCsv = readCsv("s.csv");
    const size_t n = seriesCsv.x.size() / 2;
    const struct {
        std::string file, units;
        std::vector<double> x, y;
    } cases[] = {
        {"raw.jdx", "ARBITRARY UNITS", readCsv("raw.csv").x, readCsv("raw.csv").y},
        {"s-1.jdx",
         "ABSORBANCE",
         {seriesCsv.x.begin(), seriesCsv.x.begin() + n},
         {seriesCsv.y.begin(), seriesCsv.y.begin() + n}},
        {"s-2.jdx",
         "ABSORBANCE",
         {seriesCsv.x.begin() + n, seriesCsv.x.end()},
         {seriesCsv.y.begin() + n, seriesCsv.y.end()}},
    };
    for (const auto& c : cases) {
        const std::string text = readFile(c.file);
        Jcamp jdx;
        ASSERT_TRUE(parseJcamp(text, jdx)) << c.file << "\n" << text.substr(0, 600);
        std::vector<std::string> labels;
        for (const auto& record : jdx.records) labels.push_back(record.first);
        EXPECT_EQ(labels, (std::vector<std::string>{
                              "TITLE", "JCAMPDX", "DATATYPE", "ORIGIN", "OWNER", "LONGDATE",
                              "SPECTROMETERDATASYSTEM", "XUNITS", "YUNITS", "XFACTOR", "YFACTOR",
                              "FIRSTX", "LASTX", "NPOINTS", "FIRSTY", "XYPOINTS", "END"}))
            << c.file;
        EXPECT_EQ(jdx.value("JCAMPDX"), "4.24");
        EXPECT_EQ(jdx.value("DATATYPE"), "NEAR INFRARED SPECTRUM");
        EXPECT_EQ(jdx.value("XUNITS"), "NANOMETERS");
        EXPECT_EQ(jdx.value("YUNITS"), c.units);
        EXPECT_TRUE(std::regex_match(jdx.value("LONGDATE"),
                                     std::regex(R"(20\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")))
            << jdx.value("LONGDATE");
        for (const std::string& line : lines(text)) EXPECT_LE(line.size(), 80u) << line;
        ASSERT_GT(c.x.size(), 100u);
        EXPECT_EQ(jdx.x, c.x) << c.file;
        EXPECT_EQ(jdx.y, c.y) << c.file;
        EXPECT_EQ(std::stod(jdx.value("NPOINTS")), c.x.size());
        EXPECT_EQ(std::stod(jdx.value("FIRSTX")), c.x.front());
        EXPECT_EQ(std::stod(jdx.value("LASTX")), c.x.back());
        EXPECT_EQ(std::stod(jdx.value("FIRSTY")), c.y.front());
    }

    // A title longer than a line goes on in the next one.
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    const std::string quick = "type=Column,start=1000,end=1100,width=7.03,exposure=0.635,patterns=";
    const std::string a(39, 'a'), b = std::string(36, 'b') + " bb";
    ASSERT_EQ(runQuillon({"config", "add", a, "--section", quick + "10"}, env).status, 0);
    ASSERT_EQ(runQuillon({"config", "add", b, "--section", quick + "10"}, env).status, 0);
    ASSERT_EQ(runQuillon({"activate", "3"}, env).status, 0);
    ASSERT_EQ(runQuillon({"scan", "--jcamp", "long.jdx"}, env).status, 0);
    const std::string text = readFile("long.jdx");
    Jcamp jdx;
    ASSERT_TRUE(parseJcamp(text, jdx)) << text;
    EXPECT_EQ(jdx.value("TITLE"), a + " or " + b + " (position 3)") << text;
    EXPECT_EQ(jdx.x.size(), 10u);
    for (const std::string& line : lines(text)) EXPECT_LE(line.size(), 80u) << line;
}

// Refused before the module is opened (status 2: no log file, no state
// file), or after the scan when the wavelengths differ (status 1); either
// way no output file is written or truncated.
TEST(CliWorkflow, UnusableReferencesAreRefusedWithNothingWritten) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    const std::vector<std::string> white = lines(readFile("white.csv"));
    ASSERT_GT(white.size(), 10u);
    writeText("absorbance.csv", "wavelength_nm,absorbance\n900.5,0.1\n");
    writeText("two.csv", "scan,wavelength_nm,intensity\n1,900.5,10\n2,900.5,11\n");
    writeText("broken.json", "{\"scans\": [");
    writeText("other.json", "{\"spectrum\": []}");
    writeText("gap.csv", "wavelength_nm,intensity\n900.5,nan\n");
    std::string shifted;  // the fifth wavelength moved by half a nanometre
    for (size_t i = 0; i < white.size(); ++i)
        shifted += (i == 5 ? std::to_string(std::stod(white[i]) + 0.5) +
                                 white[i].substr(white[i].find(','))
                           : white[i]) +
                   "\n";
    writeText("shifted.csv", shifted);
    writeText("out.csv", "keep me\n");
    const std::set<std::string> before = filesIn(dir.path());

    const struct {
        std::vector<std::string> args;
        int status;
        std::string reason;
    } cases[] = {
        {{"--reference", "white.csv", "--reflectance", "--absorbance"}, 2, "exclude each other"},
        {{"--reflectance"}, 2, "--reflectance needs --reference FILE"},
        {{"--absorbance", "--dark", "white.csv"}, 2, "--absorbance needs --reference FILE"},
        {{"--lamp", "dim"}, 2, "--lamp needs on, off or keep, not 'dim'"},
        {{"--keep-lamp", "--lamp", "on"}, 2, "contradict"},
        {{"--reference", "missing.csv"},
         2,
         "cannot use 'missing.csv' as the reference: No such file or directory"},
        {{"--reference", "absorbance.csv"}, 2, "it holds absorbance, not intensities"},
        {{"--reference", "two.csv"}, 2, "'two.csv' as the reference: it holds several spectra"},
        {{"--reference", "broken.json"}, 2, "'broken.json' as the reference: not valid JSON"},
        {{"--reference", "other.json"}, 2, "not a spectrum written by quillon scan"},
        {{"--reference", "white.csv", "--dark", "gap.csv"},
         2,
         "'gap.csv' as the dark spectrum: line 2 is not a wavelength and an intensity"},
        {{"--reference", "shifted.csv"},
         1,
         "the wavelengths of 'shifted.csv' differ from this scan's: point 5 is at"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--log",   "scan",    "--csv",  "out.csv", "--json",
                                         "--jcamp", "out.jdx", "--plot", "out.svg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto run = runQuillon(args);
        const std::string line = testing::PrintToString(c.args);
        EXPECT_EQ(run.status, c.status) << line << "\n" << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << line << "\n" << run.err;
        EXPECT_EQ(run.out.find('{'), std::string::npos) << line;
        for (const std::string& name : filesIn(dir.path())) {
            const bool log = name.size() > 4 && name.substr(name.size() - 4) == ".log";
            EXPECT_TRUE(before.count(name) || (log && c.status == 1)) << line << ": " << name;
            if (log) std::filesystem::remove(name);
        }
        EXPECT_EQ(readFile("out.csv"), "keep me\n") << line;
    }

    // Another configuration: another number of points.
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    ASSERT_EQ(runQuillon({"config", "add", "Quick", "--section",
                          "type=Column,start=1000,end=1100,width=7.03,patterns=10,exposure=0.635"},
                         env)
                  .status,
              0);
    ASSERT_EQ(runQuillon({"activate", "Quick"}, env).status, 0);
    auto quick = runQuillon({"scan", "--reference", "white.csv", "--csv", "out.csv"}, env);
    EXPECT_EQ(quick.status, 1);
    EXPECT_NE(quick.err.find("the wavelengths of 'white.csv' differ from this scan's: " +
                             std::to_string(white.size() - 1) + " points there, 10 in this scan"),
              std::string::npos)
        << quick.err;
    EXPECT_EQ(readFile("out.csv"), "keep me\n");
}

}  // namespace
