// Faults the simulated module can be told to show, so tests reach every
// failure path of the link without a real module misbehaving on cue.
#pragma once

#include <cstdint>

#include "link/command_codes.h"

namespace quillon::sim {

enum class Fault {
    NoReply,           // the request is dropped: no effect, no reply (the read times out at once)
    FailureFlag4,      // reply flags with bit 4 set
    FailureFlag5,      // reply flags with bit 5 set
    BothFailureFlags,  // bits 4 and 5 set together (a normal reply to the host)
    ZeroLength,        // reply header announcing length 0, no payload
    OversizedLength,   // reply announcing `value` payload bytes (default 600), all sent
    ShortReply,        // only the reply's first report is sent; a one-report reply
                       // announces `value` bytes (default 100) so more is missing
    TruncatedRead,     // every report of the reply arrives as a read of `value` bytes (default 2)
    Garbled,           // payload replaced by pseudo-random bytes of the same length
    WrongSizeField,    // payload bytes 0-3 replaced by `value`, little-endian
    WriteStatus,       // a write command is refused: not carried out, status `value` (default 1)
    LateReply,         // the reply is held back and arrives after the host's read timed out
    Unplug,            // the module is unplugged: `value` 0 as the request arrives (that
                       // write fails), 1 after taking the request (the first reply read
                       // fails), 2 after the first report of the reply was read
    ScanNeverFinishes  // START_SCAN: the scan-running bit stays set
};

// The rule matches requests of this command, or of any command.
constexpr int kAnyCommand = -1;
// `times` for a rule that never wears off.
constexpr int kAlways = -1;

struct FaultRule {
    Fault fault;
    int command = kAnyCommand;  // link::codeKey of the command, or kAnyCommand
    int times = 1;              // requests it still applies to, or kAlways
    uint32_t value = 0;         // fault parameter, 0 for the default
    int skip = 0;               // matching requests to let pass first
};

}  // namespace quillon::sim
