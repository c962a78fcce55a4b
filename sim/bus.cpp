#include "sim/bus.h"

#include <unistd.h>

#include <cstdlib>
#include <cwchar>

#include "link/command_codes.h"

namespace quillon::sim {
namespace {

constexpr size_t kMaxBusModules = 16;

// QUILLONLIB_SIMULATOR_MODULES: 1 to 16 modules; anything else means 1.
size_t moduleCount() {
    const char* text = std::getenv("QUILLONLIB_SIMULATOR_MODULES");
    if (text == nullptr || *text == '\0') return 1;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *end == '\0' && value >= 1 && value <= kMaxBusModules ? value : 1;
}

// QUILLONLIB_SIMULATOR_SERIALS: serial numbers, comma-separated, in bus order.
std::vector<std::wstring> namedSerials() {
    std::vector<std::wstring> serials;
    const char* text = std::getenv("QUILLONLIB_SIMULATOR_SERIALS");
    if (text == nullptr) return serials;
    std::wstring current;
    for (const char* c = text;; ++c) {
        if (*c == ',' || *c == '\0') {
            serials.push_back(current);  // an empty one keeps the default
            current.clear();
            if (*c == '\0') break;
        } else {
            current += static_cast<wchar_t>(static_cast<unsigned char>(*c));
        }
    }
    return serials;
}

}  // namespace

Connection::Connection(std::shared_ptr<Module> module)
    : module_(std::move(module)), generation_(module_->plugGeneration()) {}

bool Connection::alive() const {
    return module_->plugged() && module_->plugGeneration() == generation_;
}

int Connection::write(const uint8_t* data, size_t length) {
    return alive() ? module_->write(data, length) : -1;
}

int Connection::read(uint8_t* buffer, size_t length, int timeoutMs) {
    return alive() ? module_->read(buffer, length, timeoutMs) : -1;
}

void Bus::reset(size_t modules) {
    for (auto& module : modules_) module->unplug();
    modules_.clear();
    others_.clear();
    nextSerial_ = 1;
    for (size_t i = 0; i < modules; ++i) attach();
}

Module& Bus::attach(ModuleOptions options) {
    std::wstring serial = options.serialNumber;
    if (serial.empty()) {
        wchar_t text[16];
        std::swprintf(text, 16, L"QSIM%04u", nextSerial_);
        serial = text;
    }
    ++nextSerial_;
    modules_.push_back(std::make_shared<Module>(std::move(serial), std::move(options.statePath),
                                                options.stateSlot));
    return *modules_.back();
}

void Bus::detach(size_t index) {
    if (index >= modules_.size()) return;
    modules_[index]->unplug();
    modules_.erase(modules_.begin() + static_cast<std::ptrdiff_t>(index));
}

std::vector<Module*> Bus::plugged() const {
    std::vector<Module*> out;
    for (const auto& module : modules_) {
        if (module->plugged()) out.push_back(module.get());
    }
    return out;
}

std::string Bus::pathOf(const Module& module, unsigned number) {
    // A module with a state file is the same module in every process that
    // names the file, and its path says so; one without is this process's own.
    if (!module.persisting())
        return "sim:" + std::to_string(getpid()) + ":" + std::to_string(number);
    const std::string file = "sim:" + module.statePath();
    return module.stateSlot() == 0 ? file : file + "#" + std::to_string(module.stateSlot() + 1);
}

std::vector<ListedDevice> Bus::listed() const {
    std::vector<ListedDevice> out = others_;
    unsigned number = 0;
    for (const Module* module : plugged()) {
        out.push_back({link::kModuleVendorId, link::kModuleProductId, pathOf(*module, number++),
                       module->serialNumber()});
    }
    return out;
}

std::unique_ptr<Connection> Bus::connect(const std::shared_ptr<Module>& module) {
    // Another process may have changed the module since this one last looked.
    module->reloadPersisted();
    return std::make_unique<Connection>(module);
}

std::unique_ptr<Connection> Bus::openPath(const std::string& path) {
    unsigned number = 0;
    for (const auto& module : modules_) {
        if (!module->plugged()) continue;
        if (pathOf(*module, number++) == path) return connect(module);
    }
    return nullptr;
}

std::unique_ptr<Connection> Bus::open(uint16_t vendorId, uint16_t productId,
                                      const wchar_t* serialNumber) {
    if (vendorId != link::kModuleVendorId || productId != link::kModuleProductId) return nullptr;
    for (const auto& module : modules_) {
        if (!module->plugged()) continue;
        if (serialNumber != nullptr && module->serialNumber() != serialNumber) continue;
        return connect(module);
    }
    return nullptr;
}

Bus& bus() {
    // Destroyed with this object's static data, so unloading it leaves
    // nothing of the simulated modules behind.
    static Bus instance;
    static const bool attached = [] {
        const char* path = std::getenv("QUILLONLIB_SIMULATOR_STATE");
        const std::vector<std::wstring> serials = namedSerials();
        const size_t count = moduleCount();
        for (size_t i = 0; i < count; ++i) {
            ModuleOptions options;
            if (path != nullptr) options.statePath = path;
            if (i < serials.size()) options.serialNumber = serials[i];
            options.stateSlot = i;
            instance.attach(std::move(options));
        }
        return true;
    }();
    (void)attached;
    return instance;
}

}  // namespace quillon::sim
