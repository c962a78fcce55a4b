// The transport over hidapi. These seven calls are all the library asks of it.
#include <hidapi/hidapi.h>

#include "link/transport.h"

namespace quillon::link {
namespace {

int hidInit() {
    return hid_init() == 0 ? 0 : -1;
}

int hidEnumerate(std::vector<DeviceEntry>& out) {
    hid_device_info* list = hid_enumerate(0, 0);
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
        DeviceEntry entry{info->vendor_id, info->product_id, {}, {}};
        if (info->path != nullptr) entry.path = info->path;
        if (info->serial_number != nullptr) entry.serialNumber = info->serial_number;
        out.push_back(std::move(entry));
    }
    hid_free_enumeration(list);
    return 0;
}

void* hidOpen(uint16_t vendorId, uint16_t productId, const wchar_t* serial) {
    return hid_open(vendorId, productId, serial);
}

void hidClose(void* handle) {
    hid_close(static_cast<hid_device*>(handle));
}

int hidWrite(void* handle, const uint8_t* report, size_t length) {
    return hid_write(static_cast<hid_device*>(handle), report, length);
}

int hidRead(void* handle, uint8_t* buffer, size_t length, int timeoutMs) {
    return hid_read_timeout(static_cast<hid_device*>(handle), buffer, length, timeoutMs);
}

const Transport kHidTransport{"hidapi", hidInit,  hidEnumerate, hidOpen,
                              hidClose, hidWrite, hidRead};

}  // namespace

const Transport& hidTransport() {
    return kHidTransport;
}

}  // namespace quillon::link
