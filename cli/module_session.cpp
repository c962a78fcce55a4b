#include "module_session.h"

#include <cstdio>

#include "library_console.h"
#include "quillonlib.h"

namespace quillon::cli {

void reportLibraryFailure(const std::string& what) {
    LibraryConsole::relay();
    std::fprintf(stderr, "quillon: %s: %s\n", what.c_str(), getLastException());
}

void reportError(const std::string& text) {
    LibraryConsole::relay();
    std::fprintf(stderr, "quillon: %s\n", text.c_str());
}

OpenModule::OpenModule(const GlobalOptions& options) {
    setLogSwitch(options.log ? 1 : 0);
    unsigned int count = 0;
    if (enumerateDevices(&count) != 0) {
        reportLibraryFailure("no module found");
        return;
    }
    if (options.device < 0 || static_cast<unsigned>(options.device) >= count) {
        reportError("no module at index " + std::to_string(options.device) + " (" +
                    std::to_string(count) + " found)");
        return;
    }
    if (openSpectrometer(options.device) != 0) {
        reportLibraryFailure("cannot open module " + std::to_string(options.device));
        closeSpectrometer();  // opening may fail after the handle was taken
        return;
    }
    open_ = true;
}

OpenModule::~OpenModule() {
    if (open_) closeSpectrometer();
    LibraryConsole::relay();
}

}  // namespace quillon::cli
