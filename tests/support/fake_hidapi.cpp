// A stand-in for the seven hidapi functions the library uses. It forwards to
// the simulated module bus, so the library's hidapi transport runs unchanged
// in tests. Enumeration also lists two devices that are not modules.
#include "support/fake_hidapi.h"

#include <hidapi/hidapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "link/command_codes.h"
#include "sim/bus.h"

struct hid_device_ {
    std::unique_ptr<quillon::sim::Connection> connection;
};

namespace quillon::test {
namespace {

FakeHidLog log;
bool initFails = false;

// A keyboard, and a device of the same maker whose product is not the module.
struct Foreign {
    unsigned short vendorId, productId;
    const char* path;
    const wchar_t* serial;
};
constexpr Foreign kBefore{0x046D, 0xC31C, "/dev/hidraw-keyboard", L"KB-1"};
constexpr Foreign kAfter{0x0451, 0x4201, "/dev/hidraw-other", L"QSIM0001"};

hid_device_info* makeInfo(const Foreign& device) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    info->vendor_id = device.vendorId;
    info->product_id = device.productId;
    info->path = strdup(device.path);
    info->serial_number = wcsdup(device.serial);
    return info;
}

}  // namespace

FakeHidLog& fakeHid() {
    return log;
}

void resetFakeHid() {
    const int liveEnumerations = log.liveEnumerations;
    const int liveHandles = log.liveHandles;
    log = FakeHidLog{};
    log.liveEnumerations = liveEnumerations;
    log.liveHandles = liveHandles;
}

void setFakeHidInitFails(bool fails) {
    initFails = fails;
}

}  // namespace quillon::test

using quillon::test::fakeHid;

extern "C" {

int hid_init(void) {
    return quillon::test::initFails ? -1 : 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    ++fakeHid().enumerateCalls;
    auto wanted = [&](unsigned short vendor, unsigned short product) {
        return (vendor_id == 0 || vendor_id == vendor) &&
               (product_id == 0 || product_id == product);
    };
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    auto append = [&](const quillon::test::Foreign& device) {
        if (!wanted(device.vendorId, device.productId)) return;
        *tail = quillon::test::makeInfo(device);
        tail = &(*tail)->next;
    };
    append(quillon::test::kBefore);
    unsigned number = 0;
    for (quillon::sim::Module* module : quillon::sim::bus().plugged()) {
        const std::string path = "/dev/hidraw-sim" + std::to_string(number++);
        append({quillon::link::kModuleVendorId, quillon::link::kModuleProductId, path.c_str(),
                module->serialNumber().c_str()});
    }
    append(quillon::test::kAfter);
    if (head != nullptr) ++fakeHid().liveEnumerations;
    return head;
}

void hid_free_enumeration(hid_device_info* devs) {
    ++fakeHid().freeCalls;
    if (devs != nullptr) --fakeHid().liveEnumerations;
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        std::free(devs->path);
        std::free(devs->serial_number);
        std::free(devs);
        devs = next;
    }
}

hid_device* hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t* serial_number) {
    ++fakeHid().openCalls;
    fakeHid().openSerials.push_back(
        serial_number != nullptr ? std::optional<std::wstring>(serial_number) : std::nullopt);
    auto connection = quillon::sim::bus().open(vendor_id, product_id, serial_number);
    if (!connection) return nullptr;
    ++fakeHid().liveHandles;
    return new hid_device_{std::move(connection)};
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    ++fakeHid().writeCalls;
    if (dev == nullptr) return -1;
    return dev->connection->write(data, length);
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    if (fakeHid().readTimeouts.size() < 4096) fakeHid().readTimeouts.push_back(milliseconds);
    if (dev == nullptr) return -1;
    return dev->connection->read(data, length, milliseconds);
}

void hid_close(hid_device* dev) {
    if (dev == nullptr) return;
    --fakeHid().liveHandles;
    delete dev;
}

}  // extern "C"
