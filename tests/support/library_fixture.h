// Fixture for tests that drive the exported functions against the simulated
// module: a fresh bus and session, and the module enumerated and opened on
// request.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/session.h"
#include "sim/faults.h"
#include "support/scratch_dir.h"
#include "support/sim_link.h"

namespace quillon::test {

// The configurations a factory module stores.
inline const std::vector<std::string> kFactoryNames = {"Column 900-1700", "Hadamard 900-1700",
                                                       "Column + Hadamard"};

class LibraryTest : public SimLinkTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // enumerateDevices + openSpectrometer(0); true when both succeeded.
    bool openModule();
    // The default module the exports work on.
    Module& session() { return obtainSession()->module; }
    // Names of the configurations stored on the module, in stored order.
    std::vector<std::string> storedNames(size_t module = 0);
    // Sets `name` to one Column section and commits it; setTgtCfgs' result.
    int saveColumn(const std::string& name, unsigned short patterns = 10,
                   unsigned short start = 1000, unsigned short end = 1100);
    // Names of the configurations the session holds, in its order.
    std::vector<std::string> sessionNames();
    // Requests of one command the module received since the log was cleared.
    size_t requestsOf(link::CommandCode code, size_t module = 0);
};

// The same, in a scratch working directory with logging on.
class LoggingLibraryTest : public LibraryTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The one log file the library wrote.
    std::string logText() const { return readFile(scratch_->only_file()); }

  private:
    std::unique_ptr<ScratchDir> scratch_;
};

}  // namespace quillon::test
