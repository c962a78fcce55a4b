// The seam between the link and whatever carries its reports: hidapi for a
// real module, the simulated module otherwise. A small table of functions, so
// the protocol code above it never knows which one it talks to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::link {

struct DeviceEntry {
    uint16_t vendorId;
    uint16_t productId;
    std::string path;           // as the transport names the device
    std::wstring serialNumber;  // empty when the device has none
};

struct Transport {
    const char* name;
    // 0 on success, -1 when the HID layer cannot start.
    int (*init)();
    // Appends every HID device the transport sees (all vendors). 0 or -1.
    int (*enumerate)(std::vector<DeviceEntry>& out);
    // Opens the device; `serial` may be null. Returns a handle or null.
    void* (*open)(uint16_t vendorId, uint16_t productId, const wchar_t* serial);
    void (*close)(void* handle);
    // Writes one output report (report number + 64 bytes). Bytes written or -1.
    int (*write)(void* handle, const uint8_t* report, size_t length);
    // Reads one input report of up to `length` bytes. Bytes read, 0 on time-out, -1 on failure.
    int (*read)(void* handle, uint8_t* buffer, size_t length, int timeoutMs);
};

const Transport& hidTransport();
const Transport& simTransport();

// The transport the library uses: the simulated module when the environment
// variable QUILLONLIB_SIMULATOR is "1" (read once, when first needed), hidapi
// otherwise.
const Transport& activeTransport();

// Replaces the choice above until called again with nullptr. For tests that
// drive both transports in one process; never while a module is open.
void useTransport(const Transport* transport);

// The serial number to open the module at `index` of the matching entries
// with: null when only one module was found (or the entry has no serial
// number), so a single module is opened exactly as before; otherwise that
// entry's serial number, so the index chooses among several modules.
const wchar_t* serialForOpening(const std::vector<DeviceEntry>& modules, size_t index);

}  // namespace quillon::link
