// Test fixture for code that talks to a module: a fresh simulated bus with one
// module whose time runs instantly, the simulator's log of hidapi calls
// cleared, and the link closed before and after each test. The library's HID
// layer is the simulator's object, which test programs link.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/link_state.h"
#include "link/hid_layer.h"
#include "sim/bus.h"

namespace quillon::test {

// The library's HID layer as it resolves in a test program: the simulator's.
const link::HidLayer& simHid();
// The link of the exports' default module, which link tests drive directly.
link::LinkState& testLink();

class SimLinkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the first module through `hid` (default: the library's own HID layer).
    bool openFirst(const link::HidLayer& hid = simHid());
    sim::Module& module(size_t index = 0) { return sim::bus().module(index); }
    // The message bytes of the n-th request the module received (negative: from the end).
    std::vector<uint8_t> request(int n = -1, size_t index = 0);
};

std::vector<uint8_t> bytes(std::initializer_list<int> values);
// The first `count` bytes of `all`.
std::vector<uint8_t> head(const std::vector<uint8_t>& all, size_t count);

}  // namespace quillon::test
