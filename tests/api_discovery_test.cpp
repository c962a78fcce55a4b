// Finding, opening and closing modules and the small module operations,
// through the exports, over the HID layer the library loads: the simulator's.
#include <gtest/gtest.h>

#include "api/discovery.h"
#include "link/command_codes.h"
#include "quillonlib.h"
#include "sim/hid_api.h"
#include "support/library_fixture.h"

namespace quillon::test {
namespace {

using Discovery = LibraryTest;
using sim::hidCalls;

TEST_F(Discovery, EnumerateOpenAndTheSmallOperations) {
    unsigned count = 0;
    ASSERT_EQ(enumerateDevices(&count), 0);
    EXPECT_EQ(count, 1u);
    module().clearLog();
    ASSERT_EQ(openSpectrometer(0), 0);
    EXPECT_STREQ(getLastException(), "no error");
    EXPECT_EQ(hidCalls().openSerials.back(), std::nullopt) << "one module: opened by identity";
    // Opening reads the index and sends the same index back before reading configurations.
    const auto& requests = module().requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(head(requests[0].message, 6), bytes({0xC0, 0x00, 0x02, 0x00, 0x23, 0x02}));
    EXPECT_EQ(head(requests[1].message, 7).size(), 7u);
    EXPECT_EQ(requests[1].message[4], 0x24);
    EXPECT_EQ(requests[1].message[6], 0x00);

    unsigned v[7];
    ASSERT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(v[i], module().state().versions[i]) << i;
    EXPECT_GT(getEstimatedScanTime(), 0);

    module().clearLog();
    EXPECT_EQ(setLampStatus(5), 0);
    EXPECT_TRUE(module().state().lampOn);
    ASSERT_EQ(module().requests().size(), 2u);
    EXPECT_EQ(head(module().requests()[0].message, 7).back(), 0x00);  // LAMP_OFF_CONTROL 0
    EXPECT_EQ(head(request(1), 8),
              bytes({0x40, request(1)[1], 0x04, 0x00, 0x05, 0x01, 0x01, 0x01}));
    EXPECT_EQ(setLampStatus(0), 0);
    EXPECT_FALSE(module().state().lampOn);
    EXPECT_EQ(head(request(-2), 7).back(), 0x01);
    EXPECT_EQ(head(request(-1), 8),
              bytes({0x40, request(-1)[1], 0x04, 0x00, 0x05, 0x01, 0x00, 0x00}));

    EXPECT_EQ(setActiveScanIndex(2), 0);
    EXPECT_EQ(module().state().activeIndex, 2);
    int active = -9;
    EXPECT_EQ(getActiveScanIndex(&active), 0);
    EXPECT_EQ(active, 2);
    EXPECT_EQ(session().activeScanIndex, 2);

    // Accepted by the module but above 127: the session reads it as negative.
    module().injectFault(sim::Fault::WriteStatus, link::kSetActiveScanIndex, 1, 0);
    EXPECT_EQ(setActiveScanIndex(200), 0);
    EXPECT_EQ(session().activeScanIndex, -56);
}

TEST_F(Discovery, OpeningRefusals) {
    sim::bus().reset(0);
    unsigned none = 0;
    EXPECT_EQ(enumerateDevices(&none), -1);
    sim::bus().reset(1);
    EXPECT_EQ(openSpectrometer(0), -1) << "the last enumeration found nothing";
    EXPECT_STREQ(getLastException(), "Invalid parameter");
    unsigned count = 0;
    ASSERT_EQ(enumerateDevices(&count), 0);
    EXPECT_EQ(openSpectrometer(-1), -1);
    EXPECT_EQ(openSpectrometer(1), -1);
    EXPECT_STREQ(getLastException(), "Invalid parameter");
    ASSERT_EQ(openSpectrometer(0), 0);
    EXPECT_EQ(openSpectrometer(0), -1);
    EXPECT_STREQ(getLastException(), "No such device (it may have been disconnected)");
    unsigned v[7];
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0) << "still usable";
    closeSpectrometer();
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), -1);
    EXPECT_EQ(hidCalls().liveHandles, 0);
    closeSpectrometer();  // without a module: harmless
    ASSERT_EQ(openSpectrometer(0), 0) << "reopens after a close";
}

TEST_F(Discovery, AnActiveIndexThatCannotBeReadIsNeverSentBack) {
    unsigned count = 0;
    ASSERT_EQ(enumerateDevices(&count), 0);
    module().state().activeIndex = 2;
    for (sim::Fault fault : {sim::Fault::NoReply, sim::Fault::FailureFlag5}) {
        module().clearLog();
        module().injectFault(fault, link::kReadActiveScanIndex);
        EXPECT_EQ(openSpectrometer(0), -1);
        EXPECT_STREQ(getLastException(), "device return error");
        EXPECT_EQ(requestsOf(link::kSetActiveScanIndex), 0u);
        EXPECT_EQ(module().state().activeIndex, 2);
        closeSpectrometer();
    }
    // Unplugged while opening: the read fails at once, nothing hangs.
    module().injectFault(sim::Fault::Unplug, link::kReadActiveScanIndex, 1, 1);
    EXPECT_EQ(openSpectrometer(0), -1);
    int active = 7;
    EXPECT_EQ(getActiveScanIndex(&active), 0);
    EXPECT_EQ(active, -1);
    EXPECT_LT(getEstimatedScanTime(), 0);
}

TEST_F(Discovery, SeveralModulesAndNone) {
    sim::bus().reset(2);
    // A keyboard, and another product of the module's maker: neither is counted.
    sim::bus().attachOther({0x046D, 0xC31C, "/dev/hidraw-keyboard", L"KB-1"});
    sim::bus().attachOther({0x0451, 0x4201, "/dev/hidraw-other", L"QSIM0001"});
    module(1).state().activeIndex = 1;
    unsigned count = 0;
    ASSERT_EQ(enumerateDevices(&count), 0);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(openSpectrometer(1), 0);
    ASSERT_TRUE(hidCalls().openSerials.back().has_value());
    EXPECT_EQ(*hidCalls().openSerials.back(), L"QSIM0002");
    EXPECT_GT(module(1).reportsIn(), 0u);
    EXPECT_EQ(module(0).reportsIn(), 0u);
    int active = -1;
    getActiveScanIndex(&active);
    EXPECT_EQ(active, 1);
    closeSpectrometer();

    sim::bus().reset(0);
    count = 42;
    EXPECT_EQ(enumerateDevices(&count), -1);
    EXPECT_EQ(count, 42u);
    EXPECT_STREQ(getLastException(), "Entity not found");
    EXPECT_EQ(hidCalls().liveEnumerations, 0);

    hidCalls().initFails = true;
    EXPECT_EQ(enumerateDevices(&count), -1);
    EXPECT_STREQ(getLastException(), "No such device (it may have been disconnected)");
    hidCalls().initFails = false;
}

TEST_F(LoggingLibraryTest, NoHidLayerFailsLikeOneThatCannotStart) {
    unsigned count = 42;
    EXPECT_EQ(enumerateDevicesOp(session(), nullptr, &count), -1);
    EXPECT_EQ(count, 42u);
    EXPECT_STREQ(getLastException(), "No such device (it may have been disconnected)");
    EXPECT_NE(logText().find("no HID layer"), std::string::npos);
    EXPECT_NE(logText().find("NIR USB device init fail"), std::string::npos);
    EXPECT_EQ(openSpectrometer(0), -1);
}

TEST_F(Discovery, UnpluggedModuleFailsEveryOperationQuickly) {
    ASSERT_TRUE(openModule());
    module().unplug();
    unsigned v[7] = {};
    EXPECT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), -1);
    int active = 3;
    EXPECT_EQ(getActiveScanIndex(&active), 0);
    EXPECT_EQ(active, -1);
    EXPECT_EQ(setActiveScanIndex(1), -1);
    EXPECT_STREQ(getLastException(), "Invalid parameter");
    EXPECT_EQ(setLampStatus(1), 0) << "lamp results are not looked at";
    EXPECT_EQ(getEstimatedScanTime(), -1);
    closeSpectrometer();
    module().replug();
    ASSERT_TRUE(openModule()) << "usable again once plugged back in";
}

}  // namespace
}  // namespace quillon::test
