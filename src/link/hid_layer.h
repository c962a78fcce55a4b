// The library's HID layer: the eight hidapi functions it calls, as one table
// resolved when first needed. Real modules are reached through hidapi, found
// by the dynamic linker under its soname (so LD_LIBRARY_PATH still chooses the
// build); with QUILLONLIB_SIMULATOR=1 the same eight functions come from the
// simulated module's shared object instead, so the simulator runs through
// exactly the code that real hardware runs through.
#pragma once

#include <hidapi/hidapi.h>

namespace quillon::link {

struct HidLayer {
    int (*init)();
    hid_device_info* (*enumerate)(unsigned short vendorId, unsigned short productId);
    void (*freeEnumeration)(hid_device_info* devices);
    hid_device* (*open)(unsigned short vendorId, unsigned short productId, const wchar_t* serial);
    hid_device* (*openPath)(const char* path);
    int (*write)(hid_device* device, const unsigned char* data, size_t length);
    int (*readTimeout)(hid_device* device, unsigned char* data, size_t length, int milliseconds);
    void (*close)(hid_device* device);
};

// The process's HID layer, loaded on the first call; null when neither hidapi
// nor (with QUILLONLIB_SIMULATOR=1) the simulator's object could be loaded.
const HidLayer* systemHidLayer();

}  // namespace quillon::link
