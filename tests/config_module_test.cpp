// Configurations read from, validated for and stored on the simulated module
// through the exports.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/model.h"
#include "core/errors.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

class Configs : public LibraryTest {
  protected:
    // The sections of `name` as the caller's view shows them.
    std::string describe(const char* name) {
        std::string out;
        for (int s = 0; s < getScanSectionNameNumber(name); ++s) {
            char type[16] = {};
            double width = 0, exposure = 0;
            unsigned short start = 0, end = 0, patterns = 0;
            getScanSectionNameCfg(name, s, type, sizeof type - 1, &width, &start, &end, &patterns,
                                  &exposure);
            char line[128];
            std::snprintf(line, sizeof line, "%s %u-%u w%.2f n%u e%.3f;", type, start, end, width,
                          patterns, exposure);
            out += line;
        }
        return out;
    }
    int addTwoSections(const char* name) {
        if (setTgtCfg(name, 0, "Column", 900, 1200, 7.03, 100, 1.27) != 0) return -2;
        if (setTgtCfg(name, 1, "Hadamard", 1200, 1700, 4.68, 120, 0.635) != 0) return -2;
        return setTgtCfgs(name, 3);
    }
};

TEST_F(Configs, RetrievalShowsEveryStoredConfigurationInBothViews) {
    ASSERT_TRUE(openModule());
    EXPECT_EQ(session().scanConfigs.size(), 3u);
    EXPECT_EQ(getScanSectionNumber(), 3);
    // The single-form record is one section, not garbage read at sectioned places.
    EXPECT_EQ(getScanSectionNameNumber("Column 900-1700"), 1);
    EXPECT_EQ(describe("Column 900-1700"), "Column 900-1700 w7.03 n228 e0.635;");
    EXPECT_EQ(getScanSectionNameNumber("Column + Hadamard"), 2);
    EXPECT_EQ(session().calibration.pixelToNmCoeffs[0],
              module().state().calibration.pixelToNmCoeffs[0]);
    EXPECT_EQ(session().activeScanIndex, 0);
}

TEST_F(Configs, CommitReopenReadBackAndRemove) {
    ASSERT_TRUE(openModule());
    ASSERT_EQ(addTwoSections("Two"), 0);
    EXPECT_STREQ(getLastException(), "no error");
    std::vector<std::string> withTwo = kFactoryNames;
    withTwo.push_back("Two");
    EXPECT_EQ(storedNames(), withTwo);
    closeSpectrometer();
    destroySession();  // nothing of the host's memory survives: all comes from the module
    ASSERT_TRUE(openModule());
    EXPECT_EQ(describe("Two"),
              "Column 900-1200 w7.03 n100 e1.270;Hadamard 1200-1700 w4.68 n120 e0.635;");
    unsigned short remaining = 0;
    EXPECT_EQ(getRemainPatternNum("Two", 2, &remaining), 0);
    EXPECT_EQ(remaining, 524);
    ASSERT_EQ(session().scanConfigs.back().sectioned.numRepeats, 3);

    // The active configuration stays the same one when an earlier one is removed.
    ASSERT_EQ(setActiveScanIndex(3), 0);
    ASSERT_EQ(removeTgtCfg("Hadamard 900-1700"), 0);
    EXPECT_EQ(storedNames(),
              (std::vector<std::string>{"Column 900-1700", "Column + Hadamard", "Two"}));
    EXPECT_EQ(module().state().activeIndex, 2);
    EXPECT_EQ(session().activeScanIndex, 2);
    ASSERT_EQ(removeTgtCfg("Two"), 0);
    EXPECT_EQ(getScanSectionNameNumber("Two"), 0);
    EXPECT_EQ(module().state().activeIndex, 0) << "the removed one was active: a valid one now";
    EXPECT_EQ(removeTgtCfg("Two"), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");
}

TEST_F(Configs, EveryValidationRuleRefusesAndStoresNothing) {
    ASSERT_TRUE(openModule());
    struct Case {
        const char* type;
        unsigned short start, end;
        double width;
        unsigned short patterns;
        double exposure;
    };
    const Case bad[] = {
        {"column", 900, 1700, 7.03, 50, 0.635},    // type is case-sensitive
        {"Column", 899, 1000, 7.03, 50, 0.635},    // start below 900
        {"Column", 1000, 1701, 7.03, 50, 0.635},   // end above 1700
        {"Column", 1500, 1400, 7.03, 50, 0.635},   // start above end
        {"Column", 900, 1700, 2.345, 50, 0.635},   // width not in the table
        {"Column", 900, 1700, 7.03, 5000, 0.635},  // more than the range admits
        {"Column", 1200, 1200, 7.03, 1, 0.635},    // range admits fewer than two
        {"Column", 900, 1700, 7.03, 50, 0.64},     // exposure not in the table
        {"Hadamard", 900, 1700, 2.34, 2, 0.635},   // cannot be grouped
    };
    auto before = module().state().configImages;
    for (const Case& c : bad) {
        module().clearLog();
        setTgtCfg("Bad", 0, c.type, c.start, c.end, c.width, c.patterns, c.exposure);
        EXPECT_EQ(setTgtCfgs("Bad", 1), -1) << c.type << " " << c.start << "-" << c.end;
        EXPECT_STREQ(getLastException(), "device param[in] error");
        EXPECT_EQ(requestsOf(link::kEraseScanConfigs), 0u);
        EXPECT_EQ(session().scanConfigs.size(), 3u);
    }
    EXPECT_EQ(module().state().configImages, before);

    // Edge values that pass: table values within 1e-7, a one-point range for Hadamard is not
    // asked; 2.3400000001 is the first width.
    setTgtCfg("Good", 0, "Column", 1200, 1300, 2.3400000001, 10, 60.96);
    EXPECT_EQ(setTgtCfgs("Good", 1), 0);
    EXPECT_EQ(session().scanConfigs.back().sectioned.sections[0].widthPixels, 2);
    EXPECT_EQ(session().scanConfigs.back().sectioned.sections[0].exposureTime, 6);

    // Two Column sections of 300 and 324 fill the 624 patterns; 325 is one too many.
    setTgtCfg("Full", 0, "Column", 900, 1700, 2.34, 300, 0.635);
    setTgtCfg("Full", 1, "Column", 900, 1700, 2.34, 324, 0.635);
    ASSERT_GE(getMaxPattern("Full", 900, 1700, 2, 0, 1), 325) << "the range is not the limit";
    EXPECT_EQ(setTgtCfgs("Full", 1), 0);
    setTgtCfg("Full", 1, "Column", 900, 1700, 2.34, 325, 0.635);
    EXPECT_EQ(setTgtCfgs("Full", 1), -1);

    // A name that cannot fit the 40-byte field with its NUL is refused, not cut into another.
    std::string longName(40, 'L');
    EXPECT_EQ(saveColumn(longName), -1);
    EXPECT_EQ(findConfig(session().scanConfigs, longName), -1);
}

TEST_F(Configs, HalfValidCommitLeavesTheStoredRecordAlone) {
    ASSERT_TRUE(openModule());
    ASSERT_EQ(addTwoSections("Two"), 0);
    ScanConfig stored = session().scanConfigs.back();
    setTgtCfg("Two", 1, "Hadamard", 1200, 1700, 2.345, 120, 0.635);  // bad width
    EXPECT_EQ(setTgtCfgs("Two", 9), -1);
    EXPECT_EQ(std::memcmp(&session().scanConfigs.back(), &stored, sizeof stored), 0);
    // The next successful save writes the record as it was, not a half-edited one.
    ASSERT_EQ(addTwoSections("Other"), 0);
    ScanConfig onModule{};
    ASSERT_TRUE(sim::decodeStoredConfig(module().state().configImages[3], onModule));
    EXPECT_EQ(onModule.sectioned.numRepeats, 3);
    EXPECT_EQ(onModule.sectioned.sections[1].widthPixels, 4);
}

TEST_F(Configs, TwentyStoredConfigurationsRefuseATwentyFirst) {
    ASSERT_TRUE(openModule());
    for (int i = session().scanConfigs.size(); i < 20; ++i)
        ASSERT_EQ(saveColumn("C" + std::to_string(i)), 0) << i;
    EXPECT_EQ(module().state().configImages.size(), 20u);
    EXPECT_EQ(saveColumn("One too many"), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");
    EXPECT_EQ(saveColumn("C5", 20, 900, 1700), 0) << "changing an existing one still works";
}

TEST_F(Configs, ASaveTheModuleKeepsRejectingIsWrittenWholeLater) {
    // (A single rejected write is a fault matrix cell.) Rejected every time:
    // the module is short of the host's list until the next successful save.
    ASSERT_TRUE(openModule());
    module().injectFault(sim::Fault::WriteStatus, link::kWriteScanConfig, sim::kAlways, 1, 1);
    EXPECT_EQ(removeTgtCfg("Column + Hadamard"), -1);
    EXPECT_STREQ(getLastException(), "device return error");
    EXPECT_LT(module().state().configImages.size(), 3u);
    EXPECT_EQ(session().scanConfigs.size(), 3u);
    module().clearFaults();
    ASSERT_EQ(addTwoSections("Two"), 0);
    std::vector<std::string> withTwo = kFactoryNames;
    withTwo.push_back("Two");
    EXPECT_EQ(storedNames(), withTwo);
}

TEST_F(Configs, AnIncompleteRetrievalIsNeverSavedOverTheModule) {
    ASSERT_TRUE(openModule());
    for (int i = 0; i < 4; ++i) ASSERT_EQ(saveColumn("Extra" + std::to_string(i)), 0);
    closeSpectrometer();
    auto before = module().state().configImages;
    module().injectFault(sim::Fault::NoReply, link::kReadScanConfig, 1, 0, /*skip=*/2);
    ASSERT_TRUE(openModule()) << "opening itself still succeeds";
    EXPECT_EQ(session().scanConfigs.size(), 2u);
    EXPECT_EQ(saveColumn("New"), -1);
    EXPECT_STREQ(getLastException(), "device return error");
    EXPECT_EQ(removeTgtCfg("Column 900-1700"), -1);
    EXPECT_EQ(module().state().configImages, before) << "seven configurations still there";

    // A stored image that does not decode is not kept and blocks saving too.
    closeSpectrometer();
    module().state().configImages[1] = sim::Image(91, 0xEE);
    ASSERT_TRUE(openModule());
    EXPECT_EQ(session().scanConfigs.size(), 1u);
    EXPECT_EQ(saveColumn("New"), -1);
    EXPECT_STREQ(getLastException(), "device return error");
    closeSpectrometer();
    module().state().configImages = before;
    ASSERT_TRUE(openModule());
    EXPECT_EQ(saveColumn("New"), 0) << "a full retrieval allows saving again";
}

TEST_F(Configs, SharedNamesAndHiddenSectionsAreNotRewritten) {
    auto& images = module().state().configImages;
    images.push_back(images[2]);  // a second "Column + Hadamard"
    ASSERT_TRUE(openModule());
    EXPECT_EQ(getScanSectionNameNumber("Column + Hadamard"), 4);
    setTgtCfg("Column + Hadamard", 0, "Column", 900, 1300, 7.03, 50, 0.635);
    auto before = images;
    EXPECT_EQ(setTgtCfgs("Column + Hadamard", 1), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");
    EXPECT_EQ(images, before);
}

}  // namespace
}  // namespace quillon::test
