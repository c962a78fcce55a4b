#include "support/sim_link.h"

#include "link/command_codes.h"
#include "link/protocol.h"
#include "sim/module_clock.h"
#include "support/fake_hidapi.h"

namespace quillon::test {

void SimLinkTest::SetUp() {
    link::closeModule();
    link::useTransport(nullptr);
    link::setReadTimeout(link::kDefaultReadTimeoutMs);
    sim::bus().reset(1);
    sim::setTimeScale(0.0);
    resetFakeHid();
    setFakeHidInitFails(false);
}

void SimLinkTest::TearDown() {
    link::closeModule();
    link::useTransport(nullptr);
    sim::setTimeScale(0.0);
}

bool SimLinkTest::openFirst(const link::Transport& transport) {
    link::useTransport(&transport);
    return link::openModule(link::kModuleVendorId, link::kModuleProductId, nullptr);
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
