#include "link/hid_layer.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace quillon::link {
namespace {

constexpr const char* kHidapiSoname = "libhidapi-hidraw.so.0";
constexpr const char* kSimulatorName = "libquillon_sim.so";

template <typename F>
bool resolve(void* object, const char* name, F& slot) {
    slot = reinterpret_cast<F>(dlsym(object, name));
    return slot != nullptr;
}

bool resolveAll(void* object, HidLayer& layer) {
    return resolve(object, "hid_init", layer.init) &&
           resolve(object, "hid_enumerate", layer.enumerate) &&
           resolve(object, "hid_free_enumeration", layer.freeEnumeration) &&
           resolve(object, "hid_open", layer.open) &&
           resolve(object, "hid_open_path", layer.openPath) &&
           resolve(object, "hid_write", layer.write) &&
           resolve(object, "hid_read_timeout", layer.readTimeout) &&
           resolve(object, "hid_close", layer.close);
}

// The simulator's object lies beside the library (build folder or install
// prefix alike); failing that, the dynamic linker looks for it by name along
// the library's run path and LD_LIBRARY_PATH, and a host that linked it
// already gets that instance.
void* openSimulator() {
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&systemHidLayer), &self) != 0 && self.dli_fname != nullptr) {
        std::string path = self.dli_fname;
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            path.replace(slash + 1, std::string::npos, kSimulatorName);
            if (void* object = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) return object;
        }
    }
    return dlopen(kSimulatorName, RTLD_NOW | RTLD_LOCAL);
}

bool simulatorChosen() {
    const char* value = std::getenv("QUILLONLIB_SIMULATOR");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

// The loaded object goes with the library, as a library it was linked against
// would: a host that unloads the library leaves nothing of the HID layer behind.
struct LoadedObject {
    void* handle = nullptr;
    ~LoadedObject() {
        if (handle != nullptr) dlclose(handle);
    }
};

const HidLayer* load() {
    static HidLayer layer{};
    static LoadedObject object;
    object.handle =
        simulatorChosen() ? openSimulator() : dlopen(kHidapiSoname, RTLD_NOW | RTLD_LOCAL);
    if (object.handle == nullptr || !resolveAll(object.handle, layer)) return nullptr;
    return &layer;
}

}  // namespace

const HidLayer* systemHidLayer() {
    static const HidLayer* const layer = load();
    return layer;
}

}  // namespace quillon::link
