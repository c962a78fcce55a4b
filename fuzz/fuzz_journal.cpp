// The save journal reader: a file found in the state folder at open may be
// anything. A journal it accepts must be exactly what writing its contents
// gives, so nothing of a damaged file can slip through into a module.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/save_journal.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact copy, so any read past the input is caught.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size == 0 ? 1 : size]);
    if (size != 0) std::memcpy(copy.get(), data, size);
    SaveJournal journal;
    std::string why;
    if (!decodeSaveJournal(copy.get(), size, journal, why)) return 0;
    const std::vector<uint8_t> again = encodeSaveJournal(journal);
    if (again.size() != size || std::memcmp(again.data(), data, size) != 0) std::abort();
    return 0;
}
