// Test fixture for code that talks to a module: a fresh simulated bus with one
// module whose time runs instantly, the hidapi stand-in's log cleared, and the
// link closed before and after each test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "link/transport.h"
#include "sim/bus.h"

namespace quillon::test {

class SimLinkTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the first module over `transport` (default: hidapi, i.e. the stand-in).
    bool openFirst(const link::Transport& transport = link::hidTransport());
    sim::Module& module(size_t index = 0) { return sim::bus().module(index); }
    // The message bytes of the n-th request the module received (negative: from the end).
    std::vector<uint8_t> request(int n = -1, size_t index = 0);
};

std::vector<uint8_t> bytes(std::initializer_list<int> values);
// The first `count` bytes of `all`.
std::vector<uint8_t> head(const std::vector<uint8_t>& all, size_t count);

}  // namespace quillon::test
