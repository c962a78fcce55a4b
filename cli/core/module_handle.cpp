#include "module_handle.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "interrupt.h"
#include "library_console.h"
#include "quillonlib.h"
#include "udev_rule.h"

namespace quillon::cli {
namespace {

constexpr auto kRetryEvery = std::chrono::milliseconds(100);

}  // namespace

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
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(options.waitSeconds));
    bool waiting = false;
    for (;;) {
        const quillon_result result = quillon_open(info.path, &module_);
        if (result == QUILLON_OK) return;
        const bool stop = result != QUILLON_ERR_BUSY ||
                          std::chrono::steady_clock::now() + kRetryEvery > deadline ||
                          (interrupt != nullptr && interrupt->requested());
        if (stop) {
            if (result == QUILLON_ERR_BUSY) {
                reportError("cannot open " + which +
                            ": the module is busy (in use by another program)");
            } else {
                reportResult("cannot open " + which, result);
                if (result == QUILLON_ERR_ACCESS_DENIED)
                    reportError(
                        "this user may not open the module: install the udev rule with 'sudo "
                        "quillon setup' (or copy " QUILLON_UDEV_RULE_SOURCE
                        " to /etc/udev/rules.d/), then re-plug the module");
            }
            return;
        }
        if (!waiting) {
            LibraryConsole::relay();
            std::fprintf(stderr,
                         "quillon: %s is in use by another program; waiting up to %g s for it\n",
                         which.c_str(), options.waitSeconds);
            waiting = true;
        }
        if (interrupt != nullptr)
            interrupt->sleepUntil(std::chrono::steady_clock::now() + kRetryEvery);
        else
            std::this_thread::sleep_for(kRetryEvery);
    }
}

ModuleHandle::~ModuleHandle() {
    quillon_close(module_);
    LibraryConsole::relay();
}

}  // namespace quillon::cli
