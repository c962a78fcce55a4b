// The module's lamp as this program switched it, and the one lamp policy of
// a measurement: on for the scans, off for them, or left as it is, and put
// back afterwards the way it was.
#pragma once

#include <atomic>
#include <optional>
#include <string_view>

#include "quillon.h"

namespace quillon::cli {

enum class LampPolicy { On, Off, Keep };

// "on", "off" or "keep"; nothing for any other text.
std::optional<LampPolicy> lampPolicyNamed(std::string_view name);

class LampSwitch {
  public:
    // Switches the lamp of `module` through quillon.h; without one, that of
    // the module open through the 29 exports (quillon serve's, until it moves).
    explicit LampSwitch(quillon_module* module = nullptr) : module_(module) {}
    // The module cannot be asked: what this program last set, nothing before
    // the first switch or after a refused one.
    std::optional<bool> state() const;
    // The lamp is on because this program switched it on.
    bool switchedOn() const { return switchedOn_.load(); }

    // Switches the lamp; false (state unknown) when the library refuses.
    bool set(bool on);
    // Before the scans of `policy`: switches as needed and returns the state
    // the lamp had, for restore().
    std::optional<bool> apply(LampPolicy policy);
    // After them: back to `before`, where a lamp of unknown state counts as
    // off, so a lamp switched on only for the scans never stays on.
    void restore(LampPolicy policy, std::optional<bool> before);

  private:
    quillon_module* module_;
    std::atomic<int> state_{-1};  // -1 unknown, 0 off, 1 on
    std::atomic<bool> switchedOn_{false};
};

}  // namespace quillon::cli
