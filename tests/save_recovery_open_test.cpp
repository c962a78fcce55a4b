// Opening a module whose last save did not finish: the save journal left
// behind is finished, dropped, or set aside untouched, and only a whole
// journal of this very module is ever applied.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>

#include "config/journal_place.h"
#include "config/save_journal.h"
#include "quillonlib.h"
#include "sim/module_state.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

class SaveRecoveryOpen : public LibraryTest {
  protected:
    static std::string journalFile() { return journalTargetFor(L"QSIM0001", "").file; }
    std::vector<ConfigImage> stored() { return module().state().configImages; }
    // A fresh module with the factory's three configurations, the third active.
    void freshModule() {
        closeSpectrometer();
        destroySession();
        sim::bus().reset(1);
        ASSERT_TRUE(openModule());
        ASSERT_EQ(setActiveScanIndex(2), 0);
    }
    // Files beside the journal that were set aside.
    static size_t setAside() {
        size_t n = 0;
        const std::filesystem::path folder = std::filesystem::path(journalFile()).parent_path();
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            n += entry.path().filename().string().find(".refused-") != std::string::npos;
            std::filesystem::remove(entry.path());
        }
        return n;
    }
};

TEST_F(SaveRecoveryOpen, AnUnplugAtEveryStepOfASaveEndsInTheListBeforeOrTheListMeant) {
    const std::vector<std::pair<const char*, std::function<void()>>> saves = {
        {"add", [this] { saveColumn("Added", 12); }},
        {"remove", [] { removeTgtCfg("Hadamard 900-1700"); }},
    };
    for (const auto& [what, save] : saves) {
        freshModule();
        const std::vector<ConfigImage> before = stored();
        const uint8_t beforeActive = module().state().activeIndex;
        save();
        const std::vector<ConfigImage> meant = stored();
        const uint8_t meantActive = module().state().activeIndex;
        ASSERT_NE(meant, before) << what;
        EXPECT_FALSE(std::filesystem::exists(journalFile())) << "a finished save leaves none";

        // After the erase (0 writes) and after every write, the last included.
        for (int writes = 0; writes <= static_cast<int>(meant.size()); ++writes) {
            freshModule();
            module().setUnplugAfterWrites(writes);
            save();
            EXPECT_FALSE(module().plugged()) << what << " " << writes;
            module().setUnplugAfterWrites(-1);
            module().replug();
            closeSpectrometer();
            module().clearLog();
            ASSERT_TRUE(openModule()) << what << " " << writes;
            const bool isBefore =
                stored() == before && module().state().activeIndex == beforeActive;
            const bool isMeant = stored() == meant && module().state().activeIndex == meantActive;
            EXPECT_TRUE(isBefore || isMeant)
                << what << " after " << writes << " writes: " << storedNames().size() << " stored";
            // The module was gone before the list from before could be written
            // back: opening finishes the save and says how much it wrote, unless
            // what was written is the list from before (an add cut before its last).
            const std::vector<ConfigImage> written(meant.begin(), meant.begin() + writes);
            if (written == before) {
                EXPECT_TRUE(isBefore);
                EXPECT_EQ(session().recovery.kind, RecoveryOutcome::Dropped);
            } else {
                EXPECT_TRUE(isMeant) << what << " " << writes;
                EXPECT_EQ(session().recovery.kind, RecoveryOutcome::Finished) << what << writes;
                EXPECT_EQ(session().recovery.restored, meant.size() - written.size());
            }
            EXPECT_EQ(requestsOf(link::kEraseScanConfigs), 0u) << "finishing never erases";
            EXPECT_FALSE(std::filesystem::exists(journalFile())) << what << " " << writes;
            EXPECT_EQ(setAside(), 0u);
        }
    }
}

TEST_F(SaveRecoveryOpen, FinishesTheRestOfACutSaveAndWritesNothingForJournalsItMustNotApply) {
    freshModule();
    const std::vector<ConfigImage> factory = stored();
    closeSpectrometer();
    SaveJournal journal;
    journal.module.serialNumber = "QSIM0001";
    std::copy(std::begin(module().state().versions), std::end(module().state().versions),
              journal.module.versions);
    journal.before = factory;
    journal.beforeActive = 2;
    journal.intended = {factory[0], factory[2], factory[1]};
    journal.intendedActive = 1;

    // Cut after the first write: the other two are written, the active one set.
    module().state().configImages = {factory[0]};
    ASSERT_TRUE(writeSaveJournal(journalFile(), journal));
    module().clearLog();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(stored(), journal.intended);
    EXPECT_EQ(module().state().activeIndex, 1);
    EXPECT_EQ(requestsOf(link::kWriteScanConfig), 2u);
    EXPECT_EQ(requestsOf(link::kEraseScanConfigs), 0u);
    EXPECT_FALSE(std::filesystem::exists(journalFile()));
    EXPECT_EQ(session().recovery.restored, 2u);
    closeSpectrometer();
    ASSERT_TRUE(openModule());
    EXPECT_EQ(session().recovery.kind, RecoveryOutcome::None) << "reported once";
    closeSpectrometer();

    SaveJournal foreign = journal;
    foreign.module.serialNumber = "QSIM0002";
    SaveJournal changedElsewhere = journal;  // the module holds neither list now
    changedElsewhere.before = {factory[1]};
    changedElsewhere.intended = {factory[2]};
    std::vector<uint8_t> damaged = encodeSaveJournal(journal);
    damaged[damaged.size() / 2] ^= 0x01;
    std::vector<uint8_t> noise(400);
    std::mt19937 random(3);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> refused = {
        {"foreign", encodeSaveJournal(foreign)},
        {"changed elsewhere", encodeSaveJournal(changedElsewhere)},
        {"damaged", damaged},
        {"random bytes", noise},
    };
    for (const auto& [what, bytes] : refused) {
        module().state().configImages = {factory[0]};  // a prefix, as a cut save leaves
        module().state().activeIndex = 0;
        FILE* file = std::fopen(journalFile().c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        module().clearLog();
        ASSERT_TRUE(openModule()) << what;
        EXPECT_EQ(stored(), std::vector<ConfigImage>{factory[0]}) << what;
        EXPECT_EQ(module().state().activeIndex, 0) << what;
        EXPECT_EQ(requestsOf(link::kWriteScanConfig), 0u) << what;
        EXPECT_EQ(requestsOf(link::kEraseScanConfigs), 0u) << what;
        EXPECT_FALSE(std::filesystem::exists(journalFile())) << what;
        EXPECT_EQ(session().recovery.kind, RecoveryOutcome::Refused) << what;
        EXPECT_EQ(setAside(), 1u) << what << ": kept aside, so it is reported once";
        closeSpectrometer();
    }
}

}  // namespace
}  // namespace quillon::test
