#include "lamp_switch.h"

#include "quillonlib.h"

namespace quillon::cli {

std::optional<LampPolicy> lampPolicyNamed(std::string_view name) {
    if (name == "on") return LampPolicy::On;
    if (name == "off") return LampPolicy::Off;
    if (name == "keep") return LampPolicy::Keep;
    return std::nullopt;
}

std::optional<bool> LampSwitch::state() const {
    const int state = state_.load();
    if (state < 0) return std::nullopt;
    return state == 1;
}

bool LampSwitch::set(bool on) {
    const bool switched = module_ != nullptr ? quillon_lamp_set(module_, on ? 1 : 0) == QUILLON_OK
                                             : setLampStatus(on ? 1 : 0) == 0;
    if (!switched) {
        state_ = -1;
        return false;
    }
    state_ = on ? 1 : 0;
    switchedOn_ = on;
    return true;
}

std::optional<bool> LampSwitch::apply(LampPolicy policy) {
    const std::optional<bool> before = state();
    if (policy == LampPolicy::Keep) return before;
    const bool on = policy == LampPolicy::On;
    // A lamp of unknown state is switched either way, so that it is known.
    if (before != on) set(on);
    return before;
}

void LampSwitch::restore(LampPolicy policy, std::optional<bool> before) {
    if (policy == LampPolicy::Keep) return;
    const bool wanted = before.value_or(false);
    if (state() != wanted) set(wanted);
}

}  // namespace quillon::cli
