// The file in which the simulated modules of a bus keep their stored
// configurations, active index and lamp across processes (named by
// QUILLONLIB_SIMULATOR_STATE), so a configuration written through the library
// is still there after reopening and a lamp switched on by one process is
// still on for the next. One file holds every module of the bus.
//
// Layout, little-endian: magic "QSIMSTAT", u32 version (3), u8 module count,
// then per module: u8 active index, u8 lamp (0 off, 1 on), u8 configuration
// count, and per configuration a u16 image size and the image; then a u32
// FNV-1a checksum of every byte before it. Version 2 files (no lamp byte) and
// version 1 files (one module, no module count either) are still read, their
// lamps off.
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
// state file of a known version holding decodable configuration images.
StateLoad loadStateFile(const std::string& path, std::vector<PersistedState>& modules,
                        std::string& why);

// Stores `state` as module `slot` of the file, keeping the other modules the
// file holds (a slot it does not hold yet starts from the factory state).
// Other processes' writes take turns with it. False on failure.
bool saveModuleState(const std::string& path, size_t slot, const PersistedState& state);

// The bytes of a state file, for tests that damage one on purpose.
std::vector<uint8_t> encodeStateFile(const std::vector<PersistedState>& modules);

}  // namespace quillon::sim
