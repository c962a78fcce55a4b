// The simulated modules behind the eight hidapi functions the library calls
// (hid_init, hid_enumerate, hid_free_enumeration, hid_open, hid_open_path,
// hid_write, hid_read_timeout, hid_close), exported by this shared object with hidapi's
// own signatures, so the library, or any hidapi program, can be pointed at it.
// What follows is for tests: what those functions were asked, and switches
// that make hid_init or hid_open fail.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::sim {

struct HidCalls {
    int enumerations = 0;
    int liveEnumerations = 0;                              // enumerated and not yet freed
    int liveHandles = 0;                                   // opened and not yet closed
    std::vector<std::optional<std::wstring>> openSerials;  // nullopt: opened with NULL
    std::vector<int> readTimeouts;                         // of each read (the first 4096)
    bool initFails = false;                                // hid_init reports failure
    // hid_open fails with this errno when not 0, as hidapi's does for a device
    // node the user may not open; QUILLONLIB_SIMULATOR_DENY_OPEN=1 sets EACCES.
    int openRefusal = 0;
};

HidCalls& hidCalls();
// With QUILLONLIB_SIMULATOR_TRACE naming a file, every output report hid_write
// is given is appended to it as one line of hex, for tests that look at the
// wire from outside the process.
void traceReport(const unsigned char* data, size_t length);
// Clears the call log; handles and enumerations still alive stay counted.
void resetHidCalls();

}  // namespace quillon::sim
