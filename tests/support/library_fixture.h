// Fixture for tests that drive the exported functions against the simulated
// module: a fresh bus and session, and the module enumerated and opened on
// request.
#pragma once

#include <string>
#include <vector>

#include "api/session.h"
#include "sim/faults.h"
#include "support/sim_link.h"

namespace quillon::test {

class LibraryTest : public SimLinkTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // enumerateDevices + openSpectrometer(0); true when both succeeded.
    bool openModule();
    SpectrometerSession& session() { return *obtainSession(); }
    // Names of the configurations stored on the module, in stored order.
    std::vector<std::string> storedNames(size_t module = 0);
    // Requests of one command the module received since the log was cleared.
    size_t requestsOf(link::CommandCode code, size_t module = 0);
};

}  // namespace quillon::test
