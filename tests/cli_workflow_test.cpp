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

// The last two fields of each row (a first one numbers the scan, if any).
Csv readCsv(const std::string& path) {
    Csv csv;
    for (const std::string& line : lines(readFile(path))) {
        if (csv.header.empty() && (csv.header = line).size()) continue;
        const size_t last = line.rfind(','), before = line.rfind(',', last - 1);
        csv.x.push_back(std::stod(line.substr(before == std::string::npos ? 0 : before + 1)));
        csv.y.push_back(std::strtod(line.c_str() + last + 1, nullptr));
    }
    return csv;
}

std::set<std::string> filesHere() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        names.insert(entry.path().filename().string());
    return names;
}

TEST(CliWorkflow, DarkReferenceAndSampleGiveReflectanceAndAbsorbance) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--lamp", "off", "--csv", "dark.csv"}).status, 0);
    auto json = runQuillon({"scan", "--json", "--csv", "white.csv"});
    ASSERT_EQ(json.status, 0) << json.err;
    std::ofstream("white.json") << json.out;
    const Csv dark = readCsv("dark.csv"), white = readCsv("white.csv");
    ASSERT_EQ(dark.x, white.x);
    ASSERT_GT(white.x.size(), 100u);
    // Lamp off, only stray light: a few percent of the lamp's light at most.
    for (size_t i = 0; i < white.y.size(); ++i)
        EXPECT_TRUE(dark.y[i] > 0 && dark.y[i] <= 0.03 * white.y[i] + 1) << white.x[i];

    // The reference against itself, with and without the dark spectrum.
    auto self = runQuillon(
        {"scan", "--reference", "white.csv", "--reflectance", "--csv", "r.csv", "--plot", "r.svg"});
    ASSERT_EQ(self.status, 0) << self.err;
    EXPECT_EQ(self.err, "");
    EXPECT_NE(self.out.find("wavelength_nm   reflectance\n"), std::string::npos) << self.out;
    const Csv r = readCsv("r.csv");
    EXPECT_EQ(r.header, "wavelength_nm,reflectance");
    EXPECT_EQ(r.x, white.x);
    EXPECT_EQ(r.y, std::vector<double>(white.x.size(), 1.0));
    EXPECT_NE(readFile("r.svg").find(">Reflectance</text>"), std::string::npos);
    auto absorbance = runQuillon(
        {"scan", "--reference", "white.json", "--dark", "dark.csv", "--json", "--average", "2"});
    Json doc;
    ASSERT_TRUE(parseJson(absorbance.out, doc)) << absorbance.err;
    EXPECT_EQ(doc.at("quantity"), "absorbance");
    EXPECT_EQ(doc.at("reference"), "white.json");
    EXPECT_FALSE(doc.at("scans").at(0).contains("intensity"));
    EXPECT_EQ(doc.at("scans").at(0).at("absorbance").get<std::vector<double>>(),
              std::vector<double>(white.x.size(), 0.0));

    // A sample absorbing 60% of the light at 1300 nm (band width 15 nm).
    auto band =
        runQuillon({"scan", "--reference", "white.csv", "--dark", "dark.csv", "--csv", "a.csv"},
                   {{"QUILLONLIB_SIMULATOR_SAMPLE", "1300,15,0.6"}});
    ASSERT_EQ(band.status, 0) << band.err;
    const Csv s = readCsv("a.csv");
    EXPECT_EQ(s.header, "wavelength_nm,absorbance");
    size_t peak = 0;
    for (size_t i = 0; i < s.y.size(); ++i) {
        if (s.y[i] > s.y[peak]) peak = i;
        EXPECT_TRUE(std::fabs(s.x[i] - 1300) < 80 || std::fabs(s.y[i]) < 0.01) << s.x[i];
    }
    EXPECT_NEAR(s.x[peak], 1300, 5);
    EXPECT_NEAR(s.y[peak], -std::log10(0.4), 0.03);

    // A band that takes away all the light near 1450 nm: below the dark level there.
    auto gap = runQuillon({"scan", "--reference", "white.csv", "--dark", "dark.csv", "--csv",
                           "g.csv", "--jcamp", "g.jdx", "--plot", "g.svg", "--json"},
                          {{"QUILLONLIB_SIMULATOR_SAMPLE", "1450,40,1"}});
    const Csv g = readCsv("g.csv");
    Jcamp jdx;
    ASSERT_TRUE(parseJson(gap.out, doc) && parseJcamp(readFile("g.jdx"), jdx)) << gap.err;
    const Json& values = doc.at("scans").at(0).at("absorbance");
    size_t undefined = 0;
    for (size_t i = 0; i < g.y.size(); ++i) {
        EXPECT_EQ(values.at(i).is_null(), std::isnan(g.y[i]));
        EXPECT_EQ(std::isnan(jdx.y.at(i)), std::isnan(g.y[i]));
        EXPECT_TRUE(!std::isnan(g.y[i]) || std::fabs(g.x[i] - 1450) < 8) << g.x[i];
        undefined += std::isnan(g.y[i]);
    }
    ASSERT_GT(undefined, 0u);
    EXPECT_EQ(gap.err,
              "quillon: " + std::to_string(undefined) + " of " + std::to_string(g.y.size()) +
                  " points have no value (sample or reference not above the dark level)\n");
    std::smatch line;
    const std::string svg = readFile("g.svg");
    ASSERT_TRUE(std::regex_search(svg, line, std::regex("points=\"([^\"]*)\"")));
    EXPECT_EQ(std::count(line[1].first, line[1].second, ','), g.y.size() - undefined);

    // The lamp-off spectrum as the reference: a hundred times too bright.
    const std::string all = std::to_string(white.x.size());
    auto swapped = runQuillon({"scan", "--reference", "dark.csv", "--reflectance"});
    EXPECT_NE(swapped.err.find(all + " of " + all + " points have a reflectance outside 0..1.5"),
              std::string::npos)
        << swapped.err;
}

// A reader written from the format's rules, not from the writer, gets back
// the CSV's points; the header records agree with the data.
TEST(CliWorkflow, JcampFilesHoldTheCsvPoints) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    ASSERT_EQ(
        runQuillon({"scan", "--average", "3", "--csv", "raw.csv", "--jcamp", "raw.jdx"}).status, 0);
    auto series = runQuillon(
        {"scan", "--count", "2", "--reference", "white.csv", "--csv", "s.csv", "--jcamp", "s.jdx"},
        {{"QUILLONLIB_SIMULATOR_SAMPLE", "1200,30,0.5"}});
    ASSERT_EQ(series.status, 0) << series.err;
    EXPECT_TRUE(std::filesystem::exists("s-1.jdx") && !std::filesystem::exists("s.jdx"));
    Csv second = readCsv("s.csv");
    const size_t n = second.x.size() / 2;
    second.x.erase(second.x.begin(), second.x.begin() + n);
    second.y.erase(second.y.begin(), second.y.begin() + n);
    for (const auto& [file, units, csv] :
         {std::tuple{"raw.jdx", "ARBITRARY UNITS", readCsv("raw.csv")},
          {"s-2.jdx", "ABSORBANCE", second}}) {
        const std::string text = readFile(file);
        Jcamp jdx;
        ASSERT_TRUE(parseJcamp(text, jdx)) << file << "\n" << text.substr(0, 600);
        std::vector<std::string> labels;
        for (const auto& record : jdx.records) labels.push_back(record.first);
        EXPECT_EQ(labels, (std::vector<std::string>{
                              "TITLE", "JCAMPDX", "DATATYPE", "ORIGIN", "OWNER", "LONGDATE",
                              "SPECTROMETERDATASYSTEM", "XUNITS", "YUNITS", "XFACTOR", "YFACTOR",
                              "FIRSTX", "LASTX", "NPOINTS", "FIRSTY", "XYPOINTS", "END"}));
        auto values = [&](std::vector<std::string> labels) {
            for (std::string& label : labels) label = jdx.value(label);
            return labels;
        };
        EXPECT_EQ(values({"JCAMPDX", "DATATYPE", "XUNITS", "YUNITS", "XFACTOR", "YFACTOR"}),
                  (std::vector<std::string>{"4.24", "NEAR INFRARED SPECTRUM", "NANOMETERS", units,
                                            "1", "1"}));
        EXPECT_TRUE(std::regex_match(jdx.value("LONGDATE"),
                                     std::regex(R"(20\d\d/\d\d/\d\d \d\d:\d\d:\d\d)")));
        for (const std::string& line : lines(text)) EXPECT_LE(line.size(), 80u) << line;
        ASSERT_GT(csv.x.size(), 100u);
        EXPECT_EQ(jdx.x, csv.x) << file;
        EXPECT_EQ(jdx.y, csv.y) << file;
        std::vector<double> numbers;
        for (const std::string& text : values({"NPOINTS", "FIRSTX", "LASTX", "FIRSTY"}))
            numbers.push_back(std::stod(text));
        EXPECT_EQ(numbers, (std::vector<double>{double(csv.x.size()), csv.x.front(), csv.x.back(),
                                                csv.y.front()}));
    }
}

// Refused before the module is opened (status 2: no log file), or after the
// scan when the wavelengths differ (status 1); either way no output file is
// written or truncated.
TEST(CliWorkflow, UnusableReferencesAreRefusedWithNothingWritten) {
    ScratchDir dir;
    ASSERT_EQ(runQuillon({"scan", "--csv", "white.csv"}).status, 0);
    std::vector<std::string> rows = lines(readFile("white.csv"));
    ASSERT_GT(rows.size(), 10u);
    // The same points, one of them 0.01 nm off: found only against the scan.
    std::vector<std::string> shiftedRows = rows;
    const double nm = std::stod(rows[5]);
    shiftedRows[5] = std::to_string(nm + 0.01) + rows[5].substr(rows[5].find(','));
    std::string shifted, swapped;
    for (const std::string& row : shiftedRows) shifted += row + "\n";
    std::swap(rows[5], rows[6]);
    for (const std::string& row : rows) swapped += row + "\n";
    for (const auto& [name, text] :
         {std::pair{"swapped.csv", swapped},
          {"shifted.csv", shifted},
          {"hex.csv", "wavelength_nm,intensity\n900.5,0x10\n"},
          {"zeros.csv", "wavelength_nm,intensity\n900.5,0\n901.5,0\n"},
          {"absorbance.csv", "wavelength_nm,absorbance\n900.5,0.1\n"},
          {"two.csv", "scan,wavelength_nm,intensity\n1,900.5,10\n2,900.5,11\n"},
          {"broken.json", "{\"scans\": ["},
          {"other.json", "{\"spectrum\": []}"},
          {"gap.csv", "wavelength_nm,intensity\n900.5,nan\n"},
          {"out.csv", "keep me\n"}})
        std::ofstream(name) << text;
    const std::set<std::string> before = filesHere();

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
        {{"--count", "2", "--jcamp", "-"}, 2, "--json and --jcamp - both want standard output"},
        {{"--plot", "-"}, 2, "--json and --plot - both want standard output"},
        {{"--plot", "x.png"}, 2, "--plot writes SVG: name a file ending in .svg, not 'x.png'"},
        {{"--grid", "900:0.3:1000"}, 2, "the end is not a whole number of steps"},
        {{"--xunits", "um"}, 2, "--xunits needs nm or cm-1, not 'um'"},
        {{"--reference", "hex.csv"}, 2, "line 2 ('900.5,0x10'): '0x10' is not a decimal number"},
        {{"--reference", "zeros.csv"},
         2,
         "cannot use 'zeros.csv' as the reference: no point holds light above 0"},
        {{"--reference", "white.csv", "--dark", "white.csv"},
         2,
         "no point holds light above the dark spectrum 'white.csv'"},
        {{"--reference", "swapped.csv"}, 2, "the wavelength of point 6 does not rise above that of point 5"},
        {{"--reference", "missing.csv"},
         2,
         "cannot use 'missing.csv' as the reference: No such file or directory"},
        {{"--reference", "absorbance.csv"}, 2, "it holds absorbance, not intensities"},
        {{"--reference", "two.csv"}, 2, "'two.csv' as the reference: it holds several spectra"},
        {{"--reference", "broken.json"}, 2, "'broken.json' as the reference: not valid JSON"},
        {{"--reference", "other.json"}, 2, "not a spectrum written by quillon scan"},
        {{"--reference", "white.csv", "--dark", "gap.csv"},
         2,
         "'gap.csv' as the dark spectrum: line 2 ('900.5,nan'): 'nan' is not a decimal number"},
        {{"--reference", "shifted.csv"},
         1,
         "the wavelengths of 'shifted.csv' differ from this scan's: point 5 is at " +
             shiftedRows[5].substr(0, shiftedRows[5].find(',')) + " nm there"},
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
        for (const std::string& name : filesHere()) {
            const bool log = name.size() > 4 && name.substr(name.size() - 4) == ".log";
            EXPECT_TRUE(before.count(name) || (log && c.status == 1)) << line << ": " << name;
            if (log) std::filesystem::remove(name);
        }
        EXPECT_EQ(readFile("out.csv"), "keep me\n") << line;
    }

    // Another configuration, another number of points, named in the title.
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", dir.path() + "/module.state"}};
    const std::string quick = "type=Column,start=1000,end=1100,width=7.03,exposure=0.635,patterns=";
    const std::string a(39, 'a'), b = std::string(36, 'b') + " bb";
    ASSERT_EQ(runQuillon({"config", "add", a, "--section", quick + "10"}, env).status, 0);
    ASSERT_EQ(runQuillon({"config", "add", b, "--section", quick + "10"}, env).status, 0);
    ASSERT_EQ(runQuillon({"activate", "3"}, env).status, 0);
    // A reference of another point count is refused before anything is scanned.
    auto quickRun =
        runQuillon({"--log", "scan", "--reference", "white.csv", "--csv", "out.csv"}, env);
    EXPECT_EQ(quickRun.status, 2);
    EXPECT_NE(quickRun.err.find("'white.csv' holds " + std::to_string(rows.size() - 1) +
                                " points, the active configuration 10"),
              std::string::npos)
        << quickRun.err;
    // The log tells what was asked of the module: opening it, nothing more.
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (entry.path().extension() != ".log") continue;
        const std::string log = readFile(entry.path());
        EXPECT_NE(log.find("[openModule:"), std::string::npos) << log;
        for (const char* call : {"[getFormattedSpectrum:", "[performScanReadData:", "[setLampStatus:"})
            EXPECT_EQ(log.find(call), std::string::npos) << call;
        std::filesystem::remove(entry.path());
    }
    EXPECT_EQ(readFile("out.csv"), "keep me\n");
    ASSERT_EQ(runQuillon({"scan", "--jcamp", "long.jdx"}, env).status, 0);
    const std::string text = readFile("long.jdx");
    Jcamp jdx;
    ASSERT_TRUE(parseJcamp(text, jdx)) << text;
    EXPECT_EQ(jdx.value("TITLE"), a) << text;
    EXPECT_EQ(jdx.x.size(), 10u);
    for (const std::string& line : lines(text)) EXPECT_LE(line.size(), 80u) << line;
}

}  // namespace
