// The simulated modules attached to this process, as this object's hidapi
// functions list and open them. Created on first use with
// QUILLONLIB_SIMULATOR_MODULES fresh modules (1 when unset), whose serial
// numbers QUILLONLIB_SIMULATOR_SERIALS names, comma-separated (default
// QSIM0001, QSIM0002, ...); all of them keep their state in the one file
// QUILLONLIB_SIMULATOR_STATE names, when it names one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/module.h"

namespace quillon::sim {

// An open handle on a module. It dies with the plug: once the module is
// unplugged, reads and writes fail, also after it is plugged in again.
class Connection {
  public:
    explicit Connection(std::shared_ptr<Module> module);
    int write(const uint8_t* data, size_t length);
    int read(uint8_t* buffer, size_t length, int timeoutMs);
    Module& module() { return *module_; }

  private:
    bool alive() const;
    std::shared_ptr<Module> module_;
    uint32_t generation_;
};

// One entry of hid_enumerate's list.
struct ListedDevice {
    uint16_t vendorId;
    uint16_t productId;
    std::string path;
    std::wstring serialNumber;
};

struct ModuleOptions {
    std::string statePath;      // empty: nothing persisted
    std::wstring serialNumber;  // empty: "QSIM" and a running number
    size_t stateSlot = 0;       // which module of the state file it is
};

class Bus {
  public:
    // Detaches every module and other device (open connections fail from then
    // on) and attaches `modules` fresh ones without state files.
    void reset(size_t modules = 1);
    Module& attach(ModuleOptions options = {});
    void detach(size_t index);
    size_t size() const { return modules_.size(); }
    Module& module(size_t index = 0) { return *modules_.at(index); }

    // A HID device that is not a module, listed before the modules, so a
    // host's choice among devices can be seen at work.
    void attachOther(ListedDevice device) { others_.push_back(std::move(device)); }

    // The modules that are plugged in, in attach order.
    std::vector<Module*> plugged() const;
    // What hid_enumerate lists: the other devices, then the plugged modules.
    std::vector<ListedDevice> listed() const;
    // Like hid_open: the first plugged module with this vendor and product
    // (and serial number, when one is given). Null when none matches.
    std::unique_ptr<Connection> open(uint16_t vendorId, uint16_t productId,
                                     const wchar_t* serialNumber);
    // Like hid_open_path: the plugged module listed under `path`, or null.
    std::unique_ptr<Connection> openPath(const std::string& path);

  private:
    friend Bus& bus();
    // The path a plugged module is listed under; `number` counts plugged modules.
    static std::string pathOf(const Module& module, unsigned number);
    std::unique_ptr<Connection> connect(const std::shared_ptr<Module>& module);
    Bus() = default;
    std::vector<std::shared_ptr<Module>> modules_;
    std::vector<ListedDevice> others_;
    unsigned nextSerial_ = 1;
};

Bus& bus();

}  // namespace quillon::sim
