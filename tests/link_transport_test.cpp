// Both transports: hidapi (through the tests' stand-in, so the real hidapi
// calls run) and the simulated bus. Finding, choosing, opening and losing modules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "link/transport.h"
#include "sim/bus.h"
#include "support/fake_hidapi.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

std::vector<link::DeviceEntry> modulesOf(const link::Transport& transport) {
    std::vector<link::DeviceEntry> all;
    EXPECT_EQ(transport.enumerate(all), 0);
    std::vector<link::DeviceEntry> modules;
    for (const auto& entry : all) {
        if (entry.vendorId == link::kModuleVendorId && entry.productId == link::kModuleProductId) {
            modules.push_back(entry);
        }
    }
    return modules;
}

class LinkTransportTest : public SimLinkTest {};

TEST_F(LinkTransportTest, HidapiEnumerationListsEveryDeviceAndIsReleased) {
    sim::bus().reset(2);
    const link::Transport& hid = link::hidTransport();
    EXPECT_EQ(hid.init(), 0);
    std::vector<link::DeviceEntry> all;
    ASSERT_EQ(hid.enumerate(all), 0);
    ASSERT_EQ(all.size(), 4u);  // a keyboard, two modules, another product of the maker
    EXPECT_EQ(all[0].vendorId, 0x046D);
    EXPECT_EQ(all[1].serialNumber, L"QSIM0001");
    EXPECT_EQ(all[2].serialNumber, L"QSIM0002");
    EXPECT_EQ(all[2].path, "/dev/hidraw-sim1");
    EXPECT_EQ(all[3].productId, 0x4201);
    EXPECT_EQ(fakeHid().enumerateCalls, 1);
    EXPECT_EQ(fakeHid().freeCalls, 1);
    EXPECT_EQ(fakeHid().liveEnumerations, 0);

    setFakeHidInitFails(true);
    EXPECT_EQ(hid.init(), -1);
    sim::bus().reset(0);
    EXPECT_TRUE(modulesOf(hid).empty());
}

TEST_F(LinkTransportTest, OneModuleIsOpenedWithoutSerialNumber) {
    const auto modules = modulesOf(link::hidTransport());
    ASSERT_EQ(modules.size(), 1u);
    EXPECT_EQ(link::serialForOpening(modules, 0), nullptr);
    link::useTransport(&link::hidTransport());
    ASSERT_TRUE(link::openModule(link::kModuleVendorId, link::kModuleProductId,
                                 link::serialForOpening(modules, 0)));
    ASSERT_EQ(fakeHid().openSerials.size(), 1u);
    EXPECT_FALSE(fakeHid().openSerials[0].has_value());
    EXPECT_TRUE(link::moduleOpen());
    // A second opening while one is open is refused and opens nothing.
    EXPECT_FALSE(link::openModule(link::kModuleVendorId, link::kModuleProductId, nullptr));
    EXPECT_EQ(fakeHid().openCalls, 1);
    uint8_t count = 0;
    link::setReadTimeout(1234);
    EXPECT_GT(link::readScanConfigCount(count), 0);
    // Stale input is looked for without waiting; the reply is waited for.
    EXPECT_EQ(fakeHid().readTimeouts, (std::vector<int>{0, 1234}));
    link::closeModule();
    EXPECT_FALSE(link::moduleOpen());
    EXPECT_EQ(fakeHid().liveHandles, 0);
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkNoModule);
}

TEST_F(LinkTransportTest, IndexChoosesAmongSeveralModules) {
    for (const link::Transport* transport : {&link::hidTransport(), &link::simTransport()}) {
        sim::bus().reset(2);
        resetFakeHid();
        const auto modules = modulesOf(*transport);
        ASSERT_EQ(modules.size(), 2u) << transport->name;
        const wchar_t* serial = link::serialForOpening(modules, 1);
        ASSERT_NE(serial, nullptr);
        EXPECT_STREQ(serial, L"QSIM0002");
        link::useTransport(transport);
        ASSERT_TRUE(link::openModule(link::kModuleVendorId, link::kModuleProductId, serial));
        uint8_t count = 0;
        EXPECT_GT(link::readScanConfigCount(count), 0);
        EXPECT_EQ(sim::bus().module(0).reportsIn(), 0u) << transport->name;
        EXPECT_EQ(sim::bus().module(1).reportsIn(), 1u) << transport->name;
        link::closeModule();
        // A serial number nobody has opens nothing.
        EXPECT_FALSE(link::openModule(link::kModuleVendorId, link::kModuleProductId, L"NOPE"));
        // Nor does another product.
        EXPECT_FALSE(link::openModule(link::kModuleVendorId, 0x4201, nullptr));
    }
    // The simulator transport never touched hidapi.
    EXPECT_EQ(fakeHid().openCalls + fakeHid().writeCalls, 0);
}

TEST_F(LinkTransportTest, UnpluggedModuleFailsUntilOpenedAgain) {
    ASSERT_TRUE(openFirst());
    module().unplug();
    uint32_t words[7];
    EXPECT_EQ(link::readVersions(words), link::kLinkNoModule);
    EXPECT_EQ(link::setAverageCount(1), link::kLinkNoModule);
    EXPECT_TRUE(modulesOf(link::hidTransport()).empty());
    module().replug();
    // The old handle died with the plug.
    EXPECT_EQ(link::readVersions(words), link::kLinkNoModule);
    link::closeModule();
    ASSERT_TRUE(openFirst());
    EXPECT_GT(link::readVersions(words), 0);
    // Unplugged as a request arrives: that very write fails.
    module().injectFault(sim::Fault::Unplug, link::kReadVersions);
    EXPECT_EQ(link::readVersions(words), link::kLinkNoModule);
    EXPECT_FALSE(module().plugged());
}

TEST_F(LinkTransportTest, ActiveTransportFollowsTheEnvironment) {
    const char* value = std::getenv("QUILLONLIB_SIMULATOR");
    const bool simulated = value != nullptr && std::strcmp(value, "1") == 0;
    EXPECT_STREQ(link::activeTransport().name, simulated ? "simulator" : "hidapi");
    link::useTransport(&link::simTransport());
    EXPECT_STREQ(link::activeTransport().name, "simulator");
    link::useTransport(nullptr);
    EXPECT_STREQ(link::activeTransport().name, simulated ? "simulator" : "hidapi");
}

}  // namespace
}  // namespace quillon::test
