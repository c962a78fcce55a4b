// The transport over the simulated module bus: the same reports as over
// hidapi, handed to a module that lives in this process.
#include <cwchar>

#include "link/command_codes.h"
#include "link/transport.h"
#include "sim/bus.h"

namespace quillon::link {
namespace {

int simInit() {
    return 0;
}

int simEnumerate(std::vector<DeviceEntry>& out) {
    unsigned number = 0;
    for (sim::Module* module : sim::bus().plugged()) {
        out.push_back(DeviceEntry{kModuleVendorId, kModuleProductId,
                                  "sim:" + std::to_string(number++), module->serialNumber()});
    }
    return 0;
}

void* simOpen(uint16_t vendorId, uint16_t productId, const wchar_t* serial) {
    return sim::bus().open(vendorId, productId, serial).release();
}

void simClose(void* handle) {
    delete static_cast<sim::Connection*>(handle);
}

int simWrite(void* handle, const uint8_t* report, size_t length) {
    return static_cast<sim::Connection*>(handle)->write(report, length);
}

int simRead(void* handle, uint8_t* buffer, size_t length, int timeoutMs) {
    return static_cast<sim::Connection*>(handle)->read(buffer, length, timeoutMs);
}

const Transport kSimTransport{"simulator", simInit,  simEnumerate, simOpen,
                              simClose,    simWrite, simRead};

}  // namespace

const Transport& simTransport() {
    return kSimTransport;
}

}  // namespace quillon::link
