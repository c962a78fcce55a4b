// The caller's view of configurations: editing it section by section and the
// read-only queries, straight on the session (no module involved).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/errors.h"
#include "core/session.h"
#include "quillonlib.h"
#include "support/library_fixture.h"

namespace {

using quillon::ScanConfig;

class ConfigView : public quillon::test::LibraryTest {
  protected:
    static ScanConfig sectioned(const char* name, std::initializer_list<uint16_t> patterns) {
        ScanConfig c{};
        c.scanType = 2;
        std::strncpy(c.configName, name, sizeof c.configName - 1);
        c.sectioned.numSections = static_cast<uint8_t>(patterns.size());
        int s = 0;
        for (uint16_t n : patterns) c.sectioned.sections[s++] = {0, 6, 900, 1700, n, 0};
        return c;
    }
};

TEST_F(ConfigView, SetTgtCfgPositions) {
    EXPECT_EQ(setTgtCfg("X", 1, "Column", 900, 1700, 7.03, 10, 0.635), -1) << "no entries yet";
    EXPECT_EQ(getScanSectionNameNumber("X"), 0);
    EXPECT_EQ(setTgtCfg("X", 0, "Column", 900, 1000, 7.03, 10, 0.635), 0);
    EXPECT_EQ(setTgtCfg("X", 1, "Hadamard", 1000, 1100, 2.34, 20, 1.27), 0);
    EXPECT_EQ(setTgtCfg("X", 1, "Hadamard", 1000, 1200, 2.34, 30, 1.27), 0) << "overwrite";
    EXPECT_EQ(setTgtCfg("X", 3, "Column", 900, 1700, 7.03, 10, 0.635), -1) << "gap";
    EXPECT_EQ(setTgtCfg("X", -1, "Column", 900, 1700, 7.03, 10, 0.635), -1) << "negative";
    EXPECT_EQ(setTgtCfg("X", 2, "column", 900, 1700, 2.345, 10, 0.64), 0) << "not validated here";
    EXPECT_EQ(setTgtCfg("X", 3, "Column", 900, 1700, 7.03, 10, 0.635), 0);
    EXPECT_EQ(setTgtCfg("X", 4, "Column", 900, 1700, 7.03, 10, 0.635), 0);
    EXPECT_EQ(setTgtCfg("X", 5, "Column", 900, 1700, 7.03, 10, 0.635), -1) << "at most five";
    ASSERT_EQ(getScanSectionNameNumber("X"), 5);

    char type[16] = {};
    double width = 0, exposure = 0;
    unsigned short start = 0, end = 0, patterns = 0;
    ASSERT_EQ(getScanSectionNameCfg("X", 1, type, sizeof type, &width, &start, &end, &patterns,
                                    &exposure),
              0);
    EXPECT_STREQ(type, "Hadamard");
    EXPECT_EQ(width, 2.34);
    EXPECT_EQ(start, 1000);
    EXPECT_EQ(end, 1200);
    EXPECT_EQ(patterns, 30);
    EXPECT_EQ(exposure, 1.27);
    EXPECT_EQ(getScanSectionNameCfg("X", 5, type, sizeof type, &width, &start, &end, &patterns,
                                    &exposure),
              -1);
    EXPECT_EQ(getScanSectionNameCfg("Y", 0, type, sizeof type, &width, &start, &end, &patterns,
                                    &exposure),
              -1);
}

TEST_F(ConfigView, NamesAreListedOnceInByteOrderAndCutWithoutNul) {
    setTgtCfg("B", 0, "Column", 900, 1700, 7.03, 10, 0.635);
    setTgtCfg("B", 1, "Column", 900, 1700, 7.03, 10, 0.635);
    setTgtCfg("Alpha", 0, "Hadamard", 900, 1700, 7.03, 10, 0.635);
    setTgtCfg("", 0, "Column", 900, 1700, 7.03, 10, 0.635);
    quillon::lastErrorCode = 4242;  // queries leave the code alone

    EXPECT_EQ(getScanSectionNumber(), 2) << "the empty name is not listed";
    EXPECT_EQ(getScanSectionNameNumber(""), 1) << "but its sections are counted";
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(getScanSectionName(0, buffer, 3), 0);
    EXPECT_EQ(std::string(buffer, 4), "Alp#");
    std::memset(buffer, '#', sizeof buffer);
    ASSERT_EQ(getScanSectionName(0, buffer, 40), 0);
    EXPECT_EQ(std::string(buffer, 6), "Alpha#");
    ASSERT_EQ(getScanSectionName(1, buffer, 40), 0);
    EXPECT_EQ(buffer[0], 'B');
    EXPECT_EQ(getScanSectionName(2, buffer, 40), -1);
    EXPECT_EQ(getScanSectionName(-1, buffer, 40), -1);

    char type[8];
    std::memset(type, '#', sizeof type);
    double w, e;
    unsigned short a, b, n;
    ASSERT_EQ(getScanSectionNameCfg("Alpha", 0, type, 8, &w, &a, &b, &n, &e), 0);
    EXPECT_EQ(std::string(type, 8), "Hadamard");
    EXPECT_EQ(quillon::lastErrorCode, 4242);
    quillon::lastErrorCode = 0;
}

TEST_F(ConfigView, RemainingPatternsOfStoredConfigurations) {
    session().scanConfigs.push_back(sectioned("three", {100, 200, 50}));
    session().scanConfigs.push_back(sectioned("wide", {700, 10}));
    ScanConfig single{};
    single.scanType = 1;
    std::strcpy(single.configName, "single");
    single.single.numPatterns = 228;
    single.single.numRepeats = 6;  // would read as garbage sections at the sectioned places
    session().scanConfigs.push_back(single);

    unsigned short remaining = 0;
    EXPECT_EQ(getRemainPatternNum("three", 2, &remaining), 0);
    EXPECT_EQ(remaining, 474);
    EXPECT_EQ(getRemainPatternNum("three", 1, &remaining), 0);
    EXPECT_EQ(remaining, 374);
    EXPECT_STREQ(getLastException(), "no error");
    remaining = 7;
    EXPECT_EQ(getRemainPatternNum("three", 0, &remaining), -1);
    EXPECT_EQ(getRemainPatternNum("three", 4, &remaining), -1);
    EXPECT_EQ(remaining, 7);
    EXPECT_STREQ(getLastException(), "device param[in] error");
    EXPECT_EQ(getRemainPatternNum("wide", 2, &remaining), 0);
    EXPECT_EQ(remaining, 65460) << "wraps in 16 bits";
    EXPECT_EQ(getRemainPatternNum("single", 1, &remaining), 0);
    EXPECT_EQ(remaining, 624) << "a single-form record is one section";
    EXPECT_EQ(getRemainPatternNum("single", 2, &remaining), -1);
    EXPECT_EQ(getRemainPatternNum("missing", 1, &remaining), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");

    // A stored name of 40 bytes without a NUL is read as its 40 bytes, never beyond.
    ScanConfig full = sectioned("", {10});
    std::memset(full.configName, 'N', sizeof full.configName);
    session().scanConfigs.push_back(full);
    EXPECT_EQ(getRemainPatternNum(std::string(40, 'N').c_str(), 1, &remaining), 0);
    EXPECT_EQ(remaining, 624);
}

TEST_F(ConfigView, LengthOfTheActiveConfigurationsSpectrum) {
    session().scanConfigs.push_back(sectioned("two", {100, 50}));
    ScanConfig single{};
    single.scanType = 0;
    std::strcpy(single.configName, "single");
    single.single.numPatterns = 228;
    single.single.numRepeats = 1;
    session().scanConfigs.push_back(single);

    unsigned int length = 0;
    session().activeScanIndex = 0;
    EXPECT_EQ(getFormattedSpectrumLengths(&length), 0);
    EXPECT_EQ(length, 150u);
    EXPECT_EQ(getFormattedSpectrumLengths(&length), 0);
    EXPECT_EQ(length, 300u) << "adds to the caller's value";

    length = 0;
    session().activeScanIndex = 1;
    EXPECT_EQ(getFormattedSpectrumLengths(&length), 0);
    EXPECT_EQ(length, 228u) << "the single form's one section";

    for (int8_t bad : {int8_t{2}, int8_t{-56}}) {
        length = 9;
        session().activeScanIndex = bad;
        EXPECT_EQ(getFormattedSpectrumLengths(&length), -1);
        EXPECT_EQ(length, 9u);
    }
}

}  // namespace
