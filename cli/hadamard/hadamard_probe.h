// The module side of `quillon hadamard`: where a group of exactly p patterns
// fits under the module's calibration, a temporary configuration holding the
// same patterns once as a Hadamard and once as a Column section, its scans,
// and putting the module's configurations back as they were.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "stored_configs.h"

namespace quillon::cli {

// A Hadamard section of `order` patterns that plans into one group of
// exactly that many members, and its Column twin.
struct TwinWindow {
    unsigned startNm = 0;
    unsigned endNm = 0;
    int widthPixels = 0;
};

// Windows for a group of `order` members, the widest patterns first, then
// narrower ones at other places of the range. Empty when none fits; then
// `why` says what the calibration allows.
std::vector<TwinWindow> windowsForOrder(int order, std::string& why);

// Readings of one scan of a twin configuration, per pattern.
struct TwinScan {
    std::vector<double> hadamard;  // as the library decoded it
    std::vector<double> column;
};

// The module's stored configurations and active position at the start, a
// temporary configuration (appended after them) while probing, and all of
// it back at the end, also when probing stops early.
class ProbeSession {
  public:
    ProbeSession();
    ~ProbeSession();
    ProbeSession(const ProbeSession&) = delete;
    ProbeSession& operator=(const ProbeSession&) = delete;

    // False (with the reason) when the state could not be taken, or the
    // module has no room for one more configuration.
    bool begin(std::string& why);

    // Stores the twins of `window` as the temporary configuration and makes
    // it active. False with the reason (the library's refusal) otherwise.
    bool store(int order, const TwinWindow& window, std::string& why);
    // One scan of the temporary configuration.
    bool scan(int order, TwinScan& out, std::string& why);

    // Removes the temporary configuration and makes the first active
    // position active again, then checks that the configurations, their
    // positions and the active position are the ones found at the start.
    bool restore(std::string& why);

  private:
    bool begun_ = false;
    bool stored_ = false;
    bool restored_ = false;
    std::vector<ConfigView> configs_;
    std::vector<unsigned> pointsAtPosition_;
    int active_ = 0;
};

// The name the temporary configuration is stored under.
extern const char* const kProbeConfigName;

}  // namespace quillon::cli
