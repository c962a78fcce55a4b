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
    EXPECT_EQ(head(requests[1].message, 7),
              bytes({0x40, requests[1].message[1], 3, 0, 0x24, 2, 0}));

    unsigned v[7];
    ASSERT_EQ(getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]), 0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(v[i], module().state().versions[i]) << i;
    EXPECT_GT(getEstimatedScanTime(), 0);

    // Lamp on (any non-zero): LAMP_OFF_CONTROL 00, then LAMP_ON_CONTROL 01 01; off the reverse.
    for (int on : {5, 0}) {
        EXPECT_EQ(setLampStatus(on), 0);
        EXPECT_EQ(module().state().lampOn, on != 0);
        const int b = on ? 0 : 1;
        EXPECT_EQ(head(request(-2), 7), bytes({0x40, request(-2)[1], 3, 0, 0x25, 2, b}));
        EXPECT_EQ(head(request(-1), 8), bytes({0x40, request(-1)[1], 4, 0, 5, 1, 1 - b, 1 - b}));
    }

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
    const Outcome outcome = enumerateDevicesOp(*obtainSession(), nullptr, &count);
    EXPECT_EQ(outcome.kind, Kind::NoHidLayer);
    EXPECT_EQ(count, 42u);
    EXPECT_STREQ(errorText(outcome.code), "No such device (it may have been disconnected)");
    EXPECT_NE(logText().find("no HID layer"), std::string::npos);
    EXPECT_NE(logText().find("NIR USB device init fail"), std::string::npos);
    EXPECT_EQ(openSpectrometer(0), -1);
}

}  // namespace
}  // namespace quillon::test
