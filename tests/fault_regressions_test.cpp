// Faults found while hardening, each kept from coming back: a late reply
// taken for the next answer, a removal reported done while the module kept
// the configuration, a module left empty by a cut-off save that the library
// could never write again, and the last spectrum delivered again as a new one
// when the module did not start the scan.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "link/command_codes.h"
#include "quillonlib.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

using Regressions = LibraryTest;

TEST_F(Regressions, LateVersionsReplyIsNeverReadAsTheNextAnswer) {
    ASSERT_TRUE(openModule());
    module().state().activeIndex = 2;
    module().injectFault(sim::Fault::LateReply, link::kReadVersions);
    unsigned v[7] = {1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), -1);
    EXPECT_EQ(v[0], 1u);
    EXPECT_EQ(module().waitingReports(), 1u) << "the versions reply has come, too late";
    // Its first byte (0x01) must not pass for the active index.
    int active = -9;
    EXPECT_EQ(getActiveScanIndex(&active), 0);
    EXPECT_EQ(active, 2);

    // Late again, then the configurations are read: every image is the one stored.
    module().injectFault(sim::Fault::LateReply, link::kReadVersions);
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), -1);
    closeSpectrometer();
    destroySession();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(session().scanConfigs.size(), 3u);
    EXPECT_TRUE(session().configsComplete);
    EXPECT_EQ(getScanSectionNameNumber("Column + Hadamard"), 2);
    EXPECT_EQ(std::memcmp(&session().calibration, &module().state().calibration,
                          sizeof session().calibration),
              0);

    // And the other way round: a configuration image late, then the versions.
    closeSpectrometer();
    module().injectFault(sim::Fault::LateReply, link::kReadScanConfig, 1, 0, /*skip=*/1);
    ASSERT_TRUE(openModule());
    EXPECT_EQ(session().scanConfigs.size(), 1u);
    ASSERT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0);
    EXPECT_EQ(std::memcmp(v, module().state().versions, sizeof v), 0);
}

TEST_F(Regressions, ARemovalTheModuleDidNotEraseForIsNotReportedDone) {
    ASSERT_TRUE(openModule());
    const auto before = module().state().configImages;
    // Refused, or no answer at all: writing two configurations over three
    // would leave the third one behind, a copy of one that stays.
    for (sim::Fault fault : {sim::Fault::WriteStatus, sim::Fault::NoReply}) {
        module().injectFault(fault, link::kEraseScanConfigs);
        EXPECT_EQ(removeTgtCfg("Hadamard 900-1700"), -1);
        EXPECT_STREQ(getLastException(), "device return error");
        EXPECT_EQ(storedNames(), kFactoryNames);
        EXPECT_EQ(module().state().configImages, before);
        EXPECT_EQ(getScanSectionNumber(), 3);
    }
    // Nothing was written after the unconfirmed erase: the next requests are
    // the list written back (erase, three writes, the active index).
    module().clearLog();
    module().injectFault(sim::Fault::WriteStatus, link::kEraseScanConfigs);
    EXPECT_EQ(removeTgtCfg("Hadamard 900-1700"), -1);
    EXPECT_EQ(requestsOf(link::kEraseScanConfigs), 2u);
    EXPECT_EQ(requestsOf(link::kWriteScanConfig), 3u);
    EXPECT_EQ(requestsOf(link::kSetActiveScanIndex), 2u);

    ASSERT_EQ(removeTgtCfg("Hadamard 900-1700"), 0);
    EXPECT_EQ(storedNames(), (std::vector<std::string>{kFactoryNames[0], kFactoryNames[2]}));
}

TEST_F(Regressions, AModuleEmptiedByACutOffSaveIsWrittenAgain) {
    ASSERT_TRUE(openModule());
    // Unplugged just after erasing: nothing written, nothing written back.
    module().injectFault(sim::Fault::Unplug, link::kEraseScanConfigs, 1, 2);
    EXPECT_EQ(saveColumn("New"), -1);
    EXPECT_TRUE(module().state().configImages.empty());
    closeSpectrometer();
    module().replug();
    // Opening again finishes the save from its journal, before reading the module.
    ASSERT_TRUE(openModule());
    std::vector<std::string> withNew = kFactoryNames;
    withNew.push_back("New");
    EXPECT_EQ(storedNames(), withNew);
    EXPECT_EQ(session().scanConfigs.size(), 4u);
    EXPECT_EQ(session().recovery.restored, 4u);
}

TEST_F(Regressions, AModuleThatStoresNothingTakesAFirstConfiguration) {
    module().state().configImages.clear();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(getScanSectionNumber(), 0);
    ASSERT_EQ(saveColumn("First"), 0) << getLastException();
    EXPECT_EQ(storedNames(), std::vector<std::string>{"First"});
    // A count that could not be read is still no licence to overwrite.
    closeSpectrometer();
    destroySession();
    module().injectFault(sim::Fault::NoReply, link::kReadScanConfigCount);
    ASSERT_TRUE(openModule());
    EXPECT_EQ(saveColumn("Second"), -1);
    EXPECT_EQ(storedNames(), std::vector<std::string>{"First"});
}

TEST_F(Regressions, AScanTheModuleDidNotStartNeverDeliversTheLastSpectrum) {
    ASSERT_TRUE(openModule());
    ASSERT_EQ(setLampStatus(1), 0);
    std::vector<double> nm(228);
    std::vector<int> lit(228), again(228, 7);
    ASSERT_EQ(getFormattedSpectrum(nm.data(), lit.data()), 0);
    ASSERT_EQ(setLampStatus(0), 0);
    // Busy, or no answer: the module still holds the lamp-lit scan.
    for (sim::Fault fault : {sim::Fault::WriteStatus, sim::Fault::NoReply}) {
        module().injectFault(fault, link::kStartScan, 1, 4);
        testing::internal::CaptureStdout();
        EXPECT_EQ(getFormattedSpectrum(nm.data(), again.data()), -1);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Scan Failed");
        EXPECT_STREQ(getLastException(), "device return error");
        EXPECT_EQ(again, std::vector<int>(228, 7)) << "the arrays stay untouched";
        EXPECT_EQ(module().scansStarted(), 1u);
    }
    ASSERT_EQ(getFormattedSpectrum(nm.data(), again.data()), 0);
    EXPECT_EQ(module().scansStarted(), 2u);
    EXPECT_NE(again, lit) << "a new scan, with the lamp off";
}

}  // namespace
}  // namespace quillon::test
