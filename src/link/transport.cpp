#include "link/transport.h"

#include <cstdlib>
#include <cstring>

namespace quillon::link {
namespace {

const Transport* overridden = nullptr;

const Transport& chosenByEnvironment() {
    static const Transport& chosen = [&]() -> const Transport& {
        const char* value = std::getenv("QUILLONLIB_SIMULATOR");
        if (value != nullptr && std::strcmp(value, "1") == 0) return simTransport();
        return hidTransport();
    }();
    return chosen;
}

}  // namespace

const Transport& activeTransport() {
    if (overridden != nullptr) return *overridden;
    return chosenByEnvironment();
}

void useTransport(const Transport* transport) {
    overridden = transport;
}

const wchar_t* serialForOpening(const std::vector<DeviceEntry>& modules, size_t index) {
    if (modules.size() <= 1 || index >= modules.size()) return nullptr;
    const std::wstring& serial = modules[index].serialNumber;
    return serial.empty() ? nullptr : serial.c_str();
}

}  // namespace quillon::link
