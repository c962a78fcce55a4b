// The save journal: what a save is about to store on a module, written to a
// file before the module's configurations are erased, so that a save cut
// short (a killed process, a pulled cable, a power cut) can be finished or
// recognised at the next open instead of leaving the module short.
//
// File layout, little-endian:
//   magic "QLSAVEJR", u32 version (1), u32 total length of the file,
//   identity: u16 length + UTF-8 serial number, 7 × u32 version words,
//             u16 length + module path,
//   u8 intended active position, u8 count, per configuration u16 size + image,
//   u8 active position before, u8 count, per configuration u16 size + image,
//   u32 CRC-32 of every byte before it.
// Every image must decode as a configuration record; anything else about a
// file (length, counts, sizes, checksum, trailing bytes) refuses it whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/save_identity.h"

namespace quillon {

using ConfigImage = std::vector<uint8_t>;

// Same module for a journal: serial number and version words.
bool sameModule(const ModuleIdentity& a, const ModuleIdentity& b);

struct SaveJournal {
    ModuleIdentity module;
    std::vector<ConfigImage> intended;  // in the order the save writes them
    uint8_t intendedActive = 0;
    std::vector<ConfigImage> before;  // what the module held when the save began
    uint8_t beforeActive = 0;
};

std::vector<uint8_t> encodeSaveJournal(const SaveJournal& journal);
// False (with the reason) for anything but a whole, intact journal.
bool decodeSaveJournal(const uint8_t* data, size_t size, SaveJournal& journal, std::string& why);

// Durable: written to `file` + ".new", synced, renamed over `file`, and the
// folder synced, so `file` is either absent or whole after any crash.
bool writeSaveJournal(const std::string& file, const SaveJournal& journal);

enum class JournalLoad { Loaded, Missing, Refused };
JournalLoad readSaveJournal(const std::string& file, SaveJournal& journal, std::string& why);

// The save finished: the journal goes. Not synced: a journal that survives a
// crash after a completed save matches the module and is dropped at open.
void removeSaveJournal(const std::string& file);

// Moves a journal that must not be applied out of the way, under a name that
// says when; returns that name, empty when it could not be moved.
std::string setSaveJournalAside(const std::string& file);

}  // namespace quillon
