// The file in which a simulated module keeps its stored configurations, active
// index and lamp across processes (named by QUILLONLIB_SIMULATOR_STATE), so a
// configuration written through the library is still there after reopening and
// a lamp switched on by one process is still on for the next.
//
// Layout, little-endian: magic "QSIMSTAT", u32 version (2), u8 active index,
// u8 lamp (0 off, 1 on), u8 configuration count, then per configuration a u16
// image size and the image, then a u32 FNV-1a checksum of every byte before
// it. Version 1 files (no lamp byte, the lamp off) are still read.
#pragma once

#include <string>
#include <vector>

#include "sim/module_state.h"

namespace quillon::sim {

struct PersistedState {
    uint8_t activeIndex = 0;
    std::vector<Image> configImages;
    bool lampOn = false;
};

enum class StateLoad { Loaded, Missing, Refused };

// Refused (with the reason in `why`) for anything that is not a whole, intact
// state file of this version holding decodable configuration images.
StateLoad loadStateFile(const std::string& path, PersistedState& state, std::string& why);

// Writes the file anew (through a temporary file renamed over it). False on failure.
bool saveStateFile(const std::string& path, const PersistedState& state);

// The bytes of a state file, for tests that damage one on purpose.
std::vector<uint8_t> encodeStateFile(const PersistedState& state);

}  // namespace quillon::sim
