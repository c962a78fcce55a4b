// The one object behind the 29 exported functions: the process's log, the
// modules the last enumeration found, and the default module they work on.
#pragma once

#include <string>
#include <vector>

#include "core/module.h"

namespace quillon::link {
struct HidLayer;
}

namespace quillon {

// A module as the HID layer listed it.
struct FoundModule {
    std::wstring serialNumber;  // empty when the device has none
    std::string path;           // the HID layer's name for it
};

struct SpectrometerSession {
    ProcessLog log;
    // One entry per matching HID entry of the last successful enumeration, and
    // the HID layer that listed them (the one they are opened through).
    std::vector<FoundModule> foundModules;
    const link::HidLayer* foundThrough = nullptr;
    unsigned int foundCount = 0;
    Module module{log, true};
};

// The session, created on first use; nullptr only when memory runs out.
SpectrometerSession* obtainSession();
// Destroys the session (closes the log file). Called when the library unloads.
void destroySession();

}  // namespace quillon
