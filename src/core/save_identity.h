// What a module's save journal is tied to and what opening the module did
// with one: plain values a module keeps (see config/save_journal.h).
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// What names a module across processes and re-plugs. The path is kept for
// the log only: a re-plugged module may come back under another one.
struct ModuleIdentity {
    std::string serialNumber;  // UTF-8; empty when the module reports none
    uint32_t versions[7] = {};
    std::string path;
};

// Where the journal of one open module goes, and the identity it records.
// An empty file: saves are not journaled (no folder could be made).
struct JournalTarget {
    std::string file;
    ModuleIdentity module;
    bool versionsKnown = false;  // read once per open, at the first need
};

// What opening a module did with a journal it found, for the host to learn.
struct RecoveryOutcome {
    enum Kind {
        None,      // no journal for this module
        Dropped,   // the save never began; nothing written
        Finished,  // the rest of the save was written
        Refused,   // damaged, foreign, or the module changed since: set aside
        Pending,   // the module could not be read: the journal stays for the next open
    };
    Kind kind = None;
    unsigned restored = 0;  // Finished: configurations written
    std::string detail;     // Refused: why, and where the journal went
};

}  // namespace quillon
