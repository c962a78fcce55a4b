// The save journal's file format and the decision taken at open, without a module.
#include <gtest/gtest.h>

#include <random>

#include "config/save_journal.h"
#include "config/save_recovery.h"
#include "sim/module_state.h"
#include "support/scratch_dir.h"

namespace quillon {
namespace {

SaveJournal factoryJournal() {
    const sim::ModuleState factory = sim::factoryState();
    SaveJournal journal;
    journal.module.serialNumber = "QSIM0001";
    std::copy(std::begin(factory.versions), std::end(factory.versions), journal.module.versions);
    journal.module.path = "sim:/tmp/state";
    journal.before = factory.configImages;
    journal.beforeActive = 2;
    journal.intended = {factory.configImages[0], factory.configImages[2]};
    journal.intendedActive = 1;
    return journal;
}

TEST(SaveJournal, RoundTripsAndRefusesEveryDamage) {
    const SaveJournal journal = factoryJournal();
    const std::vector<uint8_t> file = encodeSaveJournal(journal);
    SaveJournal read;
    std::string why;
    ASSERT_TRUE(decodeSaveJournal(file.data(), file.size(), read, why)) << why;
    EXPECT_EQ(read.module.serialNumber, "QSIM0001");
    EXPECT_EQ(read.module.path, "sim:/tmp/state");
    EXPECT_TRUE(sameModule(read.module, journal.module));
    EXPECT_EQ(read.intended, journal.intended);
    EXPECT_EQ(read.before, journal.before);
    EXPECT_EQ(read.intendedActive, 1);
    EXPECT_EQ(read.beforeActive, 2);

    // Any one byte changed, and any cut, refuses the file whole.
    for (size_t i = 0; i < file.size(); ++i) {
        std::vector<uint8_t> damaged = file;
        damaged[i] ^= 0x20;
        SaveJournal out;
        out.intendedActive = 77;
        EXPECT_FALSE(decodeSaveJournal(damaged.data(), damaged.size(), out, why)) << i;
        EXPECT_EQ(out.intendedActive, 77) << "a refused journal leaves nothing behind";
        EXPECT_FALSE(decodeSaveJournal(file.data(), i, out, why)) << i;
    }
    std::vector<uint8_t> longer = file;
    longer.push_back(0);
    EXPECT_FALSE(decodeSaveJournal(longer.data(), longer.size(), read, why));
    EXPECT_EQ(why, "length mismatch");

    // An intact checksum over an image that is not a configuration is no help.
    SaveJournal bad = journal;
    bad.intended[1][0] = 'x';
    const std::vector<uint8_t> badFile = encodeSaveJournal(bad);
    EXPECT_FALSE(decodeSaveJournal(badFile.data(), badFile.size(), read, why));
    EXPECT_EQ(why, "a configuration image does not decode");

    std::mt19937 random(7);
    std::vector<uint8_t> noise(file.size());
    for (int round = 0; round < 200; ++round) {
        for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
        EXPECT_FALSE(decodeSaveJournal(noise.data(), noise.size(), read, why));
    }
    EXPECT_FALSE(decodeSaveJournal(nullptr, 0, read, why));

    SaveJournal other = journal;
    other.module.serialNumber = "QSIM0002";
    EXPECT_FALSE(sameModule(other.module, journal.module));
    other = journal;
    other.module.versions[6] += 1;
    EXPECT_FALSE(sameModule(other.module, journal.module));
    other = journal;
    other.module.path = "sim:elsewhere";  // a re-plugged module keeps its identity
    EXPECT_TRUE(sameModule(other.module, journal.module));
}

TEST(SaveJournal, FileIsWrittenWholeReadBackAndSetAside) {
    test::ScratchDir scratch;
    const std::string file = scratch.path() + "/m.journal";
    SaveJournal read;
    std::string why;
    EXPECT_EQ(readSaveJournal(file, read, why), JournalLoad::Missing);
    ASSERT_TRUE(writeSaveJournal(file, factoryJournal()));
    EXPECT_EQ(test::readFile(file).size(), encodeSaveJournal(factoryJournal()).size());
    ASSERT_EQ(readSaveJournal(file, read, why), JournalLoad::Loaded) << why;
    EXPECT_EQ(read.intended, factoryJournal().intended);
    EXPECT_EQ(scratch.only_file(), file) << "no temporary file stays";

    const std::string aside = setSaveJournalAside(file);
    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(aside.rfind(file + ".refused-", 0), 0u);
    EXPECT_EQ(readSaveJournal(file, read, why), JournalLoad::Missing);
    EXPECT_EQ(readSaveJournal(aside, read, why), JournalLoad::Loaded);

    ASSERT_TRUE(writeSaveJournal(file, factoryJournal()));
    removeSaveJournal(file);
    EXPECT_EQ(readSaveJournal(file, read, why), JournalLoad::Missing);
}

TEST(SaveRecovery, PlanFollowsWhatTheModuleHolds) {
    const SaveJournal journal = factoryJournal();  // 3 before, 2 intended (a removal)
    const auto plan = [&](const std::vector<ConfigImage>& stored) {
        return planRecovery(journal, stored);
    };
    EXPECT_EQ(plan(journal.before).action, RecoveryAction::Drop);
    for (size_t k = 0; k <= journal.intended.size(); ++k) {
        const std::vector<ConfigImage> prefix(journal.intended.begin(),
                                              journal.intended.begin() + k);
        const RecoveryPlan p = plan(prefix);
        EXPECT_EQ(p.action, RecoveryAction::Finish) << k;
        EXPECT_EQ(p.firstToWrite, k);
    }
    // Only a write-back of the list from before, cut short, leaves a part of it.
    const RecoveryPlan back = plan({journal.before[0], journal.before[1]});
    EXPECT_EQ(back.action, RecoveryAction::Finish);
    EXPECT_TRUE(back.towardBefore);
    EXPECT_EQ(back.firstToWrite, 2u);
    EXPECT_FALSE(plan({journal.intended[0]}).towardBefore);
    // Changed elsewhere: another list, a longer one, one byte of one image.
    EXPECT_EQ(plan({journal.before[1]}).action, RecoveryAction::SetAside);
    EXPECT_EQ(plan({journal.intended[0], journal.intended[1], journal.before[1]}).action,
              RecoveryAction::SetAside);
    std::vector<ConfigImage> touched = journal.intended;
    touched[1].back() ^= 1;
    EXPECT_EQ(plan(touched).action, RecoveryAction::SetAside);

    // A save that only moves the active position is finished, not dropped.
    SaveJournal same = journal;
    same.intended = same.before;
    EXPECT_EQ(planRecovery(same, same.before).action, RecoveryAction::Finish);
    EXPECT_EQ(planRecovery(same, same.before).firstToWrite, same.before.size());
}

}  // namespace
}  // namespace quillon
