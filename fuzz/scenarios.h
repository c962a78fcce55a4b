// What the link and opening fuzz targets do with a module played from a byte
// stream. The seed maker runs the same code against the simulated module over
// the recording HID layer, so every seed is a real conversation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/link_state.h"
#include "link/hid_layer.h"

// A broken promise of the code under test: report it and stop, so the fuzzer
// keeps the input and a replay run fails.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace quillon::fuzz {

// The link of the exports' default module, which the link targets drive.
link::LinkState& fuzzLink();

// One link step per device command the library sends: the command with a
// parameter (an index, a flag or a buffer size), its reply decoded and the
// decoding's promises checked.
struct LinkStep {
    const char* name;
    void (*run)(uint8_t parameter);
};
constexpr int kLinkStepCount = 17;
extern const LinkStep kLinkSteps[kLinkStepCount];

// The step selector % kLinkStepCount, with selector / kLinkStepCount as parameter.
void runLinkStep(uint8_t selector);

// Opens the module through the exports, asks every query about what was read,
// commits and removes one configuration, and closes; the module is found
// through `hid` (the played or the recording layer).
void runOpenScenario(const link::HidLayer& hid);

}  // namespace quillon::fuzz
