// What the link and opening fuzz targets do with a module played from a byte
// stream. The seed maker runs the same code against the simulated module over
// the recording transport, so every seed is a real conversation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

// Number of distinct link steps: one per device command the library sends.
constexpr int kLinkSteps = 17;

// One device command, chosen by `selector` (command = selector % kLinkSteps;
// the rest picks an index or a buffer size), with its reply decoded and the
// decoding's promises checked.
void runLinkStep(uint8_t selector);

// Opens the module through the exports, asks every query about what was read,
// commits and removes one configuration, and closes. Needs the played or
// recording transport in place.
void runOpenScenario();

}  // namespace quillon::fuzz
