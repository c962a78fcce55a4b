#include "module_handle.h"

#include "learn_undo.h"
#include "library_console.h"
#include "module_session.h"
#include "quillonlib.h"

namespace quillon::cli {

void reportResult(const std::string& what, quillon_result result) {
    reportError(what + ": " + quillon_result_text(result));
}

std::optional<std::vector<quillon_module_info>> listModules() {
    size_t count = 0;
    quillon_result result = quillon_list(nullptr, 0, &count);
    std::vector<quillon_module_info> modules(count);
    // A module plugged in between the two calls is left for the next command.
    if (result == QUILLON_OK) result = quillon_list(modules.data(), modules.size(), &count);
    if (result != QUILLON_OK) {
        reportResult("no module found", result);
        return std::nullopt;
    }
    modules.resize(std::min(count, modules.size()));
    return modules;
}

std::optional<size_t> chooseModule(const GlobalOptions& options,
                                   const std::vector<quillon_module_info>& modules) {
    if (modules.empty()) {
        reportResult("no module found", QUILLON_ERR_NOT_FOUND);
        return std::nullopt;
    }
    if (!options.deviceSerial.empty()) {
        for (size_t i = 0; i < modules.size(); ++i)
            if (options.deviceSerial == modules[i].serial) return i;
        reportError("no module with serial number " + options.deviceSerial + " (" +
                    std::to_string(modules.size()) + " found)");
        return std::nullopt;
    }
    if (options.device < 0 || static_cast<size_t>(options.device) >= modules.size()) {
        reportError("no module at index " + std::to_string(options.device) + " (" +
                    std::to_string(modules.size()) + " found)");
        return std::nullopt;
    }
    return static_cast<size_t>(options.device);
}

ModuleHandle::ModuleHandle(const GlobalOptions& options, const InterruptWatch* interrupt) {
    setLogSwitch(options.log ? 1 : 0);
    const auto modules = listModules();
    if (!modules) return;
    const auto chosen = chooseModule(options, *modules);
    if (!chosen) return;
    const quillon_module_info& info = (*modules)[*chosen];
    const std::string which = "module " + std::to_string(*chosen);
    quillon_result result = QUILLON_OK;
    const auto attempt = [&] {
        result = quillon_open(info.path, &module_);
        switch (result) {
            case QUILLON_OK:
                return OpenTry::Opened;
            case QUILLON_ERR_BUSY:
                return OpenTry::Busy;
            case QUILLON_ERR_ACCESS_DENIED:
                return OpenTry::AccessDenied;
            default:
                return OpenTry::Refused;
        }
    };
    if (!openWaiting(options, interrupt, which, attempt,
                     [&] { reportResult("cannot open " + which, result); }))
        return;
    reportRecovery(module_);
    if (auto undone = undoInterruptedLearn(static_cast<int>(*chosen), module_))
        reportError(*undone);
}

ModuleHandle::~ModuleHandle() {
    quillon_close(module_);
    LibraryConsole::relay();
}

}  // namespace quillon::cli
