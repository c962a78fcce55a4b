// What the tests' hidapi stand-in was asked, so tests can check how the
// library drives hidapi (which serial number it opened with, whether every
// enumeration was released, whether every handle was closed).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::test {

struct FakeHidLog {
    int enumerateCalls = 0;
    int freeCalls = 0;
    int openCalls = 0;
    int writeCalls = 0;
    std::vector<int> readTimeouts;  // the time-out of each read (the first 4096)
    std::vector<std::optional<std::wstring>> openSerials;  // nullopt: opened with NULL
    int liveEnumerations = 0;                              // enumerated and not yet freed
    int liveHandles = 0;                                   // opened and not yet closed
};

FakeHidLog& fakeHid();
void resetFakeHid();
// hid_init reports failure while set.
void setFakeHidInitFails(bool fails);

}  // namespace quillon::test
