#include "sim/hid_api.h"

#include <hidapi/hidapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>

#include "sim/bus.h"

struct hid_device_ {
    std::unique_ptr<quillon::sim::Connection> connection;
};

namespace quillon::sim {
namespace {

constexpr size_t kMaxLoggedReads = 4096;

// Modules on the bus may be used from several threads at once; the call log
// they share is written under this lock.
std::mutex& callLogLock() {
    static std::mutex lock;
    return lock;
}

hid_device_info* makeInfo(const ListedDevice& device) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (info == nullptr) return nullptr;
    info->vendor_id = device.vendorId;
    info->product_id = device.productId;
    info->path = strdup(device.path.c_str());
    info->serial_number = wcsdup(device.serialNumber.c_str());
    return info;
}

}  // namespace

void traceReport(const unsigned char* data, size_t length) {
    // Opened once per process; appended to by every process that names it.
    static FILE* const trace = [] {
        const char* path = std::getenv("QUILLONLIB_SIMULATOR_TRACE");
        return path != nullptr && *path != '\0' ? std::fopen(path, "a") : nullptr;
    }();
    if (trace == nullptr || data == nullptr) return;
    std::string line;
    char hex[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", data[i]);
        line += hex;
    }
    std::fprintf(trace, "%s\n", line.c_str());
    std::fflush(trace);
}

HidCalls& hidCalls() {
    static HidCalls calls = [] {
        HidCalls fresh;
        const char* deny = std::getenv("QUILLONLIB_SIMULATOR_DENY_OPEN");
        if (deny != nullptr && std::strcmp(deny, "1") == 0) fresh.openRefusal = EACCES;
        return fresh;
    }();
    return calls;
}

void resetHidCalls() {
    HidCalls& calls = hidCalls();
    calls = HidCalls{0, calls.liveEnumerations, calls.liveHandles, {}, {}, false, 0};
}

}  // namespace quillon::sim

using quillon::sim::hidCalls;

extern "C" {

int hid_init(void) {
    return hidCalls().initFails ? -1 : 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
    std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
    ++hidCalls().enumerations;
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (const quillon::sim::ListedDevice& device : quillon::sim::bus().listed()) {
        if ((vendor_id != 0 && vendor_id != device.vendorId) ||
            (product_id != 0 && product_id != device.productId))
            continue;
        *tail = quillon::sim::makeInfo(device);
        if (*tail == nullptr) break;
        tail = &(*tail)->next;
    }
    if (head != nullptr) ++hidCalls().liveEnumerations;
    return head;
}

void hid_free_enumeration(hid_device_info* devs) {
    if (devs != nullptr) {
        std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
        --hidCalls().liveEnumerations;
    }
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
    std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
    hidCalls().openSerials.push_back(
        serial_number != nullptr ? std::optional<std::wstring>(serial_number) : std::nullopt);
    if (hidCalls().openRefusal != 0) {
        errno = hidCalls().openRefusal;
        return nullptr;
    }
    auto connection = quillon::sim::bus().open(vendor_id, product_id, serial_number);
    if (!connection) return nullptr;
    ++hidCalls().liveHandles;
    return new hid_device_{std::move(connection)};
}

hid_device* hid_open_path(const char* path) {
    std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
    if (hidCalls().openRefusal != 0) {
        errno = hidCalls().openRefusal;
        return nullptr;
    }
    auto connection = path != nullptr ? quillon::sim::bus().openPath(path) : nullptr;
    if (!connection) {
        errno = ENOENT;
        return nullptr;
    }
    ++hidCalls().liveHandles;
    return new hid_device_{std::move(connection)};
}

int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
    quillon::sim::traceReport(data, length);
    return dev != nullptr ? dev->connection->write(data, length) : -1;
}

int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
    {
        std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
        if (hidCalls().readTimeouts.size() < quillon::sim::kMaxLoggedReads)
            hidCalls().readTimeouts.push_back(milliseconds);
    }
    return dev != nullptr ? dev->connection->read(data, length, milliseconds) : -1;
}

void hid_close(hid_device* dev) {
    if (dev == nullptr) return;
    {
        std::lock_guard<std::mutex> log(quillon::sim::callLogLock());
        --hidCalls().liveHandles;
    }
    delete dev;
}

}  // extern "C"
