// What quillon scan's files carry besides the values (sample, comment, an even
// grid, wavenumbers), references read back from each format it writes, and
// the outputs that take standard output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "cli_formats.h"
#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// (x, y) of the rows after the header of a one-scan CSV.
std::vector<std::pair<double, double>> csvPoints(const std::string& csv) {
    std::vector<std::pair<double, double>> points;
    for (const std::string& row : lines(csv)) {
        double x = 0, y = 0;
        if (std::sscanf(row.c_str(), "%lf,%lf", &x, &y) == 2) points.emplace_back(x, y);
    }
    return points;
}

TEST(CliFiles, ReferencesOfEveryFormatOnAnEvenGridWithTheSamplesName) {
    ScratchDir dir;
    Json white;
    CliRun run = runQuillon({"scan", "--csv", "white.csv", "--jcamp", "white.jdx", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(parseJson(run.out, white));
    ASSERT_EQ(runQuillon({"scan", "--lamp", "off", "--json"}).status, 0);
    ASSERT_EQ(runQuillon({"scan", "--lamp", "off", "--jcamp", "dark.jdx"}).status, 0);
    std::FILE* json = std::fopen("white.json", "w");
    std::fputs(white.dump().c_str(), json);
    std::fclose(json);

    const Env sample = {{"QUILLONLIB_SIMULATOR_SAMPLE", "1300,15,0.5"}};
    std::string first;
    for (const char* reference : {"white.csv", "white.json", "white.jdx"}) {
        SCOPED_TRACE(reference);
        run = runQuillon({"scan", "--reference", reference, "--dark", "dark.jdx", "--grid",
                          "950:5:1650", "--sample", "Wheat lot 7", "--comment", "dried 24 h",
                          "--csv", "a.csv", "--jcamp", "a.jdx", "--json"},
                         sample);
        ASSERT_EQ(run.status, 0) << run.err;
        Json doc;
        ASSERT_TRUE(parseJson(run.out, doc));
        EXPECT_EQ(doc["sample"], "Wheat lot 7");
        EXPECT_EQ(doc["comment"], "dried 24 h");
        EXPECT_EQ(doc["grid_nm"], Json({{"start", 950.0}, {"step", 5.0}, {"end", 1650.0}}));
        const auto points = csvPoints(readFile("a.csv"));
        ASSERT_EQ(points.size(), 141u);
        for (size_t i = 0; i < points.size(); ++i) EXPECT_EQ(points[i].first, 950.0 + 5.0 * i);
        // The band at 1300 nm takes half the light: -log10(0.5) there.
        EXPECT_NEAR(points[70].second, std::log10(2.0), 0.03);
        const std::string jdx = readFile("a.jdx");
        for (const char* record :
             {"##TITLE=Wheat lot 7\n", "##SAMPLE DESCRIPTION=dried 24 h\n", "##NPOINTS=141\n",
              "##DELTAX=5.000000\n##XYDATA=(X++(Y..Y))\n950.000000 "})
            EXPECT_TRUE(has(jdx, record)) << record << "\n" << jdx.substr(0, 800);
        for (const std::string& line : lines(jdx)) EXPECT_LE(line.size(), 80u) << line;
        // The same values whichever file held the reference.
        if (first.empty()) first = readFile("a.csv");
        EXPECT_EQ(readFile("a.csv"), first);
    }

    // The even JCAMP-DX form is read back too: its 141 points are not the
    // configuration's 228, refused before the scan.
    ASSERT_EQ(runQuillon({"scan", "--grid", "950:5:1650", "--jcamp", "even.jdx"}).status, 0);
    run = runQuillon({"scan", "--reference", "even.jdx", "--csv", "-"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run.err, "'even.jdx' holds 141 points, the active configuration 228"))
        << run.err;
    EXPECT_EQ(run.out, "");
    run = runQuillon({"scan", "--grid", "900:5:1650"});
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(has(run.err,
                    "the grid 900.000000-1650.000000 nm reaches outside the measured "
                    "range"))
        << run.err;
}

TEST(CliFiles, WavenumbersStandardOutputWarmUpAndARefusedTable) {
    ScratchDir dir;
    const CliRun nm = runQuillon({"scan", "--csv", "-"});
    CliRun run = runQuillon({"scan", "--xunits", "cm-1", "--csv", "-"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(lines(run.out)[0], "wavenumber_cm-1,intensity");
    const auto inNm = csvPoints(nm.out), inCm = csvPoints(run.out);
    ASSERT_EQ(inCm.size(), inNm.size());
    for (size_t i = 0; i < inCm.size(); ++i) {
        EXPECT_NEAR(inCm[i].first, 1e7 / inNm[inNm.size() - 1 - i].first, 1e-5);
        EXPECT_EQ(inCm[i].second, inNm[inNm.size() - 1 - i].second);
    }
    run = runQuillon({"scan", "--xunits", "cm-1", "--jcamp", "-"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind("##TITLE=", 0), 0u) << run.out.substr(0, 200);  // no table before
    EXPECT_TRUE(has(run.out, "##XUNITS=1/CM\n"));
    run = runQuillon({"scan", "--xunits", "cm-1", "--json"});
    Json doc;
    ASSERT_TRUE(parseJson(run.out, doc));
    EXPECT_EQ(doc["scans"][0]["wavenumber_cm-1"].size(), inNm.size());
    run = runQuillon({"scan", "--plot", "-"});
    EXPECT_EQ(run.out.rfind("<?xml", 0), 0u);
    EXPECT_TRUE(xmlNests(run.out));

    // The wait shows on a terminal; the lamp is on for the scan after it.
    run = runQuillon({"scan", "--warmup", "0.3", "--csv", "-"}, {}, true);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(has(run.err, "warm-up")) << run.err;
    EXPECT_EQ(csvPoints(run.out), inNm);
    EXPECT_EQ(runQuillon({"scan", "--warmup", "1", "--lamp", "off"}).status, 2);

    run = runQuillon({"scan", "--csv", "-"}, {{"QUILLONLIB_HADAMARD_TABLE", "none.txt"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "quillon: QUILLONLIB_HADAMARD_TABLE 'none.txt' refused: no such file; Hadamard "
              "sections are decoded with the built-in table\n");
}

}  // namespace
