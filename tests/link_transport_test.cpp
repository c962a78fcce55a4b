// The link over its HID layer: the layer the library loads is the simulator's
// object this program links; opening, choosing and losing modules.
#include <gtest/gtest.h>

#include "link/command_codes.h"
#include "link/commands.h"
#include "link/protocol.h"
#include "sim/bus.h"
#include "sim/hid_api.h"
#include "support/sim_link.h"

namespace quillon::test {
namespace {

using sim::hidCalls;

class LinkTransportTest : public SimLinkTest {};

TEST_F(LinkTransportTest, LoadedLayerIsTheLinkedSimulatorInstance) {
    // Loaded by the library, not linked into it: the very functions of the
    // object this program holds, so its control interface drives what the
    // library talks to.
    EXPECT_EQ(simHid().init, &hid_init);
    EXPECT_EQ(simHid().readTimeout, &hid_read_timeout);
    EXPECT_EQ(link::systemHidLayer(), &simHid());
}

TEST_F(LinkTransportTest, OneModuleIsOpenedWithoutSerialNumber) {
    ASSERT_TRUE(openFirst());
    ASSERT_EQ(hidCalls().openSerials.size(), 1u);
    EXPECT_FALSE(hidCalls().openSerials[0].has_value());
    EXPECT_TRUE(link::moduleOpen());
    // A second opening while one is open is refused and opens nothing.
    EXPECT_FALSE(openFirst());
    EXPECT_EQ(hidCalls().openSerials.size(), 1u);
    uint8_t count = 0;
    link::setReadTimeout(1234);
    EXPECT_GT(link::readScanConfigCount(count), 0);
    // Stale input is looked for without waiting; the reply is waited for.
    EXPECT_EQ(hidCalls().readTimeouts, (std::vector<int>{0, 1234}));
    link::closeModule();
    EXPECT_FALSE(link::moduleOpen());
    EXPECT_EQ(hidCalls().liveHandles, 0);
    EXPECT_EQ(link::readScanConfigCount(count), link::kLinkNoModule);
}

TEST_F(LinkTransportTest, SerialNumberChoosesAmongSeveralModules) {
    sim::bus().reset(2);
    ASSERT_TRUE(
        link::openModule(simHid(), link::kModuleVendorId, link::kModuleProductId, L"QSIM0002"));
    uint8_t count = 0;
    EXPECT_GT(link::readScanConfigCount(count), 0);
    EXPECT_EQ(sim::bus().module(0).reportsIn(), 0u);
    EXPECT_EQ(sim::bus().module(1).reportsIn(), 1u);
    link::closeModule();
    // A serial number nobody has opens nothing.
    EXPECT_FALSE(
        link::openModule(simHid(), link::kModuleVendorId, link::kModuleProductId, L"NOPE"));
    // Nor does another product.
    EXPECT_FALSE(link::openModule(simHid(), link::kModuleVendorId, 0x4201, nullptr));
}

TEST_F(LinkTransportTest, UnpluggedModuleFailsUntilOpenedAgain) {
    ASSERT_TRUE(openFirst());
    module().unplug();
    uint32_t words[7];
    EXPECT_EQ(link::readVersions(words), link::kLinkNoModule);
    EXPECT_EQ(link::setAverageCount(1), link::kLinkNoModule);
    EXPECT_EQ(simHid().enumerate(0, 0), nullptr);
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

}  // namespace
}  // namespace quillon::test
