#include "support/sim_link.h"

#include <cstdlib>
#include "core/session.h"
#include "link/command_codes.h"
#include "link/protocol.h"

#include "sim/hid_api.h"
#include "sim/module_clock.h"

namespace quillon::test {
namespace {
// Before any test asks for it, so the library loads the simulator's object.
const bool kSimulatorChosen = setenv("QUILLONLIB_SIMULATOR", "1", 1) == 0;
}  // namespace

const link::HidLayer& simHid() {
    const link::HidLayer* hid = link::systemHidLayer();
    if (hid == nullptr || !kSimulatorChosen) std::abort();  // no test could run
    return *hid;
}

link::LinkState& testLink() {
    return obtainSession()->module.link;
}

void SimLinkTest::SetUp() {
    link::closeModule(testLink());
    link::setReadTimeout(testLink(), link::kDefaultReadTimeoutMs);
    sim::bus().reset(1);
    sim::setTimeScale(0.0);
    sim::resetHidCalls();
}

void SimLinkTest::TearDown() {
    link::closeModule(testLink());
    sim::setTimeScale(0.0);
}

bool SimLinkTest::openFirst(const link::HidLayer& hid) {
    return link::openModule(testLink(), hid, link::kModuleVendorId, link::kModuleProductId,
                            nullptr);
}

std::vector<uint8_t> SimLinkTest::request(int n, size_t index) {
    const auto& requests = sim::bus().module(index).requests();
    const int count = static_cast<int>(requests.size());
    const int at = n < 0 ? count + n : n;
    if (at < 0 || at >= count) return {};
    return requests[static_cast<size_t>(at)].message;
}

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int value : values) out.push_back(static_cast<uint8_t>(value));
    return out;
}

std::vector<uint8_t> head(const std::vector<uint8_t>& all, size_t count) {
    return std::vector<uint8_t>(all.begin(), all.begin() + std::min(count, all.size()));
}

}  // namespace quillon::test
