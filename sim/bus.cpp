#include "sim/bus.h"

#include <unistd.h>

#include <cstdlib>
#include <cwchar>

#include "link/command_codes.h"

namespace quillon::sim {

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
    modules_.push_back(std::make_shared<Module>(std::move(serial), std::move(options.statePath)));
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

std::vector<ListedDevice> Bus::listed() const {
    std::vector<ListedDevice> out = others_;
    unsigned number = 0;
    for (const Module* module : plugged()) {
        // A module with a state file is the same module in every process that
        // names the file, and its path says so; one without is this process's own.
        const std::string path =
            module->persisting() ? "sim:" + module->statePath()
                                 : "sim:" + std::to_string(getpid()) + ":" + std::to_string(number);
        ++number;
        out.push_back(
            {link::kModuleVendorId, link::kModuleProductId, path, module->serialNumber()});
    }
    return out;
}

std::unique_ptr<Connection> Bus::open(uint16_t vendorId, uint16_t productId,
                                      const wchar_t* serialNumber) {
    if (vendorId != link::kModuleVendorId || productId != link::kModuleProductId) return nullptr;
    for (const auto& module : modules_) {
        if (!module->plugged()) continue;
        if (serialNumber != nullptr && module->serialNumber() != serialNumber) continue;
        // Another process may have changed the module since this one last looked.
        module->reloadPersisted();
        return std::make_unique<Connection>(module);
    }
    return nullptr;
}

Bus& bus() {
    // Destroyed with this object's static data, so unloading it leaves
    // nothing of the simulated modules behind.
    static Bus instance;
    static const bool attached = [] {
        const char* path = std::getenv("QUILLONLIB_SIMULATOR_STATE");
        ModuleOptions options;
        if (path != nullptr) options.statePath = path;
        instance.attach(std::move(options));
        return true;
    }();
    (void)attached;
    return instance;
}

}  // namespace quillon::sim
