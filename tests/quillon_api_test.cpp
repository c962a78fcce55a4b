// quillon.h against the simulated bus: modules apart from each other,
// configurations by position, opening that only reads, scans that stop when
// asked, and the mends of the exports that sit beside it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <thread>

#include "core/bytes.h"
#include "core/errors.h"
#include "link/command_codes.h"
#include "quillon.h"
#include "quillonlib.h"
#include "sim/module_clock.h"
#include "sim/state_file.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

class QuillonApi : public LibraryTest {
  protected:
    void TearDown() override {
        for (quillon_module*& m : open_) quillon_close(m);
        LibraryTest::TearDown();
    }
    quillon_module* openAt(size_t index) {
        quillon_module_info infos[4];
        size_t count = 0;
        if (quillon_list(infos, 4, &count) != QUILLON_OK || index >= count) return nullptr;
        quillon_module* m = nullptr;
        if (quillon_open(infos[index].path, &m) == QUILLON_OK) open_.push_back(m);
        return m;
    }
    size_t writesTo(size_t index) {
        size_t writes = 0;
        for (const auto& r : module(index).requests()) writes += r.flags != 0xC0;
        return writes;
    }
    std::vector<quillon_module*> open_;
};

TEST_F(QuillonApi, TwoModulesAreListedOpenedAndChangedApart) {
    sim::bus().reset(2);
    quillon_module_info infos[1];
    size_t count = 0;
    ASSERT_EQ(quillon_list(infos, 1, &count), QUILLON_OK);
    EXPECT_EQ(count, 2u) << "all found, however few fit";
    EXPECT_STREQ(infos[0].serial, "QSIM0001");
    quillon_module* a = openAt(0);
    quillon_module* b = openAt(1);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    quillon_module* again = nullptr;
    EXPECT_EQ(quillon_open(infos[0].path, &again), QUILLON_ERR_BUSY);
    EXPECT_EQ(again, nullptr);
    quillon_module_info identity{};
    ASSERT_EQ(quillon_module_identity(b, &identity), QUILLON_OK);
    EXPECT_STREQ(identity.serial, "QSIM0002");

    int lamp = 7;
    EXPECT_EQ(quillon_lamp_get(a, &lamp), QUILLON_OK);
    EXPECT_EQ(lamp, -1) << "nothing commanded yet";
    ASSERT_EQ(quillon_lamp_set(a, 1), QUILLON_OK);
    ASSERT_EQ(quillon_active_set(b, 2), QUILLON_OK);
    EXPECT_TRUE(module(0).state().lampOn);
    EXPECT_FALSE(module(1).state().lampOn);
    EXPECT_EQ(module(0).state().activeIndex, 0);
    EXPECT_EQ(module(1).state().activeIndex, 2);
    EXPECT_EQ(quillon_lamp_get(a, &lamp), QUILLON_OK);
    EXPECT_EQ(lamp, 1);
    size_t active = 9;
    EXPECT_EQ(quillon_active_get(b, &active), QUILLON_OK);
    EXPECT_EQ(active, 2u);

    const size_t before = module(1).requests().size();
    EXPECT_EQ(quillon_active_set(b, 3), QUILLON_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(module(1).requests().size(), before) << "refused without a word to the module";
    EXPECT_EQ(quillon_open("sim:no such path", &again), QUILLON_ERR_NOT_FOUND);
}

TEST_F(QuillonApi, OpeningAndReadingNeverWriteEvenWhenTheActivePositionHoldsNothing) {
    module().state().activeIndex = 7;
    quillon_module* m = openAt(0);
    ASSERT_NE(m, nullptr);
    size_t count = 0, points = 0;
    char name[64];
    ASSERT_EQ(quillon_config_count(m, &count), QUILLON_OK);
    ASSERT_EQ(count, 3u);
    for (size_t p = 0; p < count; ++p) {
        ASSERT_EQ(quillon_config_name(m, p, name, sizeof name), QUILLON_OK);
        EXPECT_EQ(name, kFactoryNames[p]);
    }
    EXPECT_EQ(quillon_config_name(m, 0, name, 7), QUILLON_OK);
    EXPECT_STREQ(name, "Column") << "cut to fit, terminated";
    EXPECT_EQ(quillon_point_count(m, &points), QUILLON_ERR_NO_CONFIGURATION);
    double nm[864];
    int32_t counts[864];
    EXPECT_EQ(quillon_scan(m, nm, counts, 864, &points), QUILLON_ERR_NO_CONFIGURATION);
    size_t active = 0;
    EXPECT_EQ(quillon_active_get(m, &active), QUILLON_OK);
    EXPECT_EQ(active, 7u);
    EXPECT_EQ(writesTo(0), 0u);
    EXPECT_EQ(module().state().activeIndex, 7);
}

TEST_F(QuillonApi, ConfigurationsAreReadAddedReplacedAndRemovedByPosition) {
    quillon_module* m = openAt(0);
    ASSERT_NE(m, nullptr);
    quillon_section sections[5];
    size_t count = 0;
    uint16_t repeats = 0;
    EXPECT_EQ(quillon_config_sections(m, 2, sections, 1, &count, &repeats),
              QUILLON_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(quillon_config_sections(m, 1, sections, 5, &count, &repeats), QUILLON_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(sections[0].scan_type, 1);
    EXPECT_EQ(sections[0].start_nm, 900);
    EXPECT_EQ(sections[0].end_nm, 1700);
    EXPECT_EQ(sections[0].patterns, 228);

    quillon_section mine{0, 7.03, 1000, 1100, 10, 0.635};
    quillon_section wrong = mine;
    wrong.width_nm = 7.0;
    char reason[128];
    size_t position = 0;
    EXPECT_EQ(quillon_config_add(m, "Mine", &wrong, 1, 1, &position, reason, sizeof reason),
              QUILLON_ERR_INVALID_ARGUMENT);
    EXPECT_STREQ(reason, "Wrong width pixel");
    EXPECT_EQ(storedNames(), kFactoryNames);
    ASSERT_EQ(quillon_config_add(m, "Mine", &mine, 1, 1, &position, reason, sizeof reason),
              QUILLON_OK);
    EXPECT_EQ(position, 3u);
    EXPECT_STREQ(reason, "");

    const quillon_section two[2] = {mine, {1, 7.03, 1200, 1600, 31, 1.27}};
    ASSERT_EQ(quillon_config_replace(m, 3, "Renamed", two, 2, 4, reason, sizeof reason),
              QUILLON_OK);
    ASSERT_EQ(quillon_config_sections(m, 3, sections, 5, &count, &repeats), QUILLON_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(repeats, 4);
    EXPECT_DOUBLE_EQ(sections[1].exposure_ms, 1.27);
    EXPECT_EQ(quillon_config_replace(m, 4, "Past", &mine, 1, 1, reason, sizeof reason),
              QUILLON_ERR_INVALID_ARGUMENT);

    ASSERT_EQ(quillon_active_set(m, 2), QUILLON_OK);
    ASSERT_EQ(quillon_config_remove(m, 0), QUILLON_OK);
    EXPECT_EQ(storedNames(),
              (std::vector<std::string>{kFactoryNames[1], kFactoryNames[2], "Renamed"}));
    EXPECT_EQ(module().state().activeIndex, 1) << "the same configuration stays active";
    EXPECT_EQ(quillon_config_remove(m, 3), QUILLON_ERR_INVALID_ARGUMENT);
}

TEST_F(QuillonApi, ScansStopWhenAskedAndTheNextOneWaitsForTheModule) {
    quillon_module* m = openAt(0);
    ASSERT_NE(m, nullptr);
    double nm[864];
    int32_t counts[864];
    size_t points = 0;
    nm[0] = -1.0;
    const size_t sent = module().requests().size();
    EXPECT_EQ(quillon_scan(m, nm, counts, 227, &points), QUILLON_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(module().requests().size(), sent);
    EXPECT_EQ(nm[0], -1.0);
    EXPECT_EQ(quillon_cancel(m), QUILLON_OK);
    ASSERT_EQ(quillon_scan(m, nm, counts, 864, &points), QUILLON_OK)
        << "an old cancel is forgotten";
    EXPECT_EQ(points, 228u);

    sim::setTimeScale(0.2);  // a scan of about half a second
    std::atomic<quillon_result> result{QUILLON_OK};
    module().clearLog();
    std::thread scanning([&] { result = quillon_scan(m, nm, counts, 864, &points); });
    while (!module().scanRunning()) std::this_thread::yield();
    EXPECT_EQ(quillon_cancel(m), QUILLON_OK);
    scanning.join();
    EXPECT_EQ(result, QUILLON_ERR_CANCELLED);
    EXPECT_EQ(requestsOf(link::kReadScanDataSize), 0u) << "the data is not read";
    EXPECT_TRUE(module().scanRunning()) << "the module goes on by itself";

    module().clearLog();
    ASSERT_EQ(quillon_scan(m, nm, counts, 864, &points), QUILLON_OK);
    ASSERT_GE(module().requests().size(), 2u);
    const auto& first = module().requests().front();
    EXPECT_EQ(first.command, link::kReadDeviceStatus.number) << "waits for the old scan first";
    EXPECT_EQ(requestsOf(link::kStartScan), 1u);
    EXPECT_TRUE(module().protocolErrors().empty());
}

TEST_F(QuillonApi, ExportsRefuseArraysSizedForAnotherConfigurationAndNeverFailSilently) {
    ASSERT_TRUE(openModule());
    ASSERT_EQ(saveColumn("Small"), 0);
    ASSERT_EQ(setActiveScanIndex(3), 0);
    unsigned length = 0;
    ASSERT_EQ(getFormattedSpectrumLengths(&length), 0);
    ASSERT_EQ(length, 10u);
    std::thread([] { EXPECT_EQ(setActiveScanIndex(0), 0); }).join();
    std::vector<double> nm(10, -1.0);
    std::vector<int> counts(10, 0);
    module().clearLog();
    EXPECT_EQ(getFormattedSpectrum(nm.data(), counts.data()), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");
    EXPECT_EQ(nm, std::vector<double>(10, -1.0));
    EXPECT_EQ(requestsOf(link::kStartScan), 0u);

    // Failures the exports report by -1 alone now leave a text.
    ASSERT_EQ(setActiveScanIndex(3), 0);
    EXPECT_EQ(setTgtCfg("Small", 4, "Column", 1000, 1100, 7.03, 10, 0.635), -1);
    EXPECT_STREQ(getLastException(), "device param[in] error");
    lastErrorCode = kNoError;
    char name[8];
    EXPECT_EQ(getScanSectionName(99, name, sizeof name), -1);
    EXPECT_STRNE(getLastException(), "no error");
    lastErrorCode = kNoError;
    closeSpectrometer();
    unsigned v[7];
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), -1);
    EXPECT_STREQ(getLastException(), "device return error");
}

uint32_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint32_t hash = 2166136261u;
    for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
    return hash;
}

TEST_F(QuillonApi, OneStateFileKeepsEveryModuleOfTheBusAndOldFilesStillLoad) {
    ScratchDir dir;
    const std::string file = dir.path() + "/state";
    // A file of the single-module layout, holding one configuration.
    sim::PersistedState one{0, {sim::factoryState().configImages[1]}};
    std::vector<uint8_t> old = sim::encodeStateFile({one});
    old.erase(old.begin() + 12);  // no module count
    old.erase(old.begin() + 13);  // no lamp byte after the active index
    old[8] = 1;                   // version 1
    old.resize(old.size() - 4);
    bytes::append32(old, fnv1a(old));
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), static_cast<std::streamsize>(old.size()));

    sim::bus().reset(0);
    for (size_t slot = 0; slot < 2; ++slot) sim::bus().attach({file, L"", slot});
    EXPECT_EQ(storedNames(0), std::vector<std::string>{kFactoryNames[1]});
    EXPECT_EQ(storedNames(1), kFactoryNames) << "not in the file yet: as it left the factory";
    quillon_module* second = openAt(1);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(quillon_config_remove(second, 2), QUILLON_OK);
    quillon_close(second);
    open_.clear();

    sim::bus().reset(0);
    for (size_t slot = 0; slot < 2; ++slot) sim::bus().attach({file, L"", slot});
    EXPECT_EQ(storedNames(0), std::vector<std::string>{kFactoryNames[1]});
    EXPECT_EQ(storedNames(1), (std::vector<std::string>{kFactoryNames[0], kFactoryNames[1]}));
    std::vector<sim::PersistedState> saved;
    std::string why;
    ASSERT_EQ(sim::loadStateFile(file, saved, why), sim::StateLoad::Loaded);
    EXPECT_EQ(saved.size(), 2u);
}

}  // namespace
}  // namespace quillon::test
