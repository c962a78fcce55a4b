#include "module_session.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "interrupt.h"
#include "learn_undo.h"
#include "library_console.h"
#include "module_handle.h"
#include "quillon.h"
#include "quillonlib.h"
#include "udev_rule.h"

namespace quillon::cli {
namespace {

// The library's texts for the two failures this program explains further.
constexpr const char* kBusyText = "Resource busy";
constexpr const char* kAccessDeniedText = "Access denied (insufficient permissions)";
constexpr auto kRetryEvery = std::chrono::milliseconds(100);

bool lastFailureIs(const char* text) {
    return std::strcmp(getLastException(), text) == 0;
}

}  // namespace

void reportLibraryFailure(const std::string& what) {
    LibraryConsole::relay();
    std::fprintf(stderr, "quillon: %s: %s\n", what.c_str(), getLastException());
}

bool openWaiting(const GlobalOptions& options, const InterruptWatch* interrupt,
                 const std::string& which, const std::function<OpenTry()>& attempt,
                 const std::function<void()>& refused) {
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(options.waitSeconds));
    bool waiting = false;
    for (;;) {
        const OpenTry result = attempt();
        if (result == OpenTry::Opened) return true;
        const bool stop = result != OpenTry::Busy ||
                          std::chrono::steady_clock::now() + kRetryEvery > deadline ||
                          (interrupt != nullptr && interrupt->requested());
        if (stop) {
            if (result == OpenTry::Busy) {
                reportError("cannot open " + which +
                            ": the module is busy (in use by another program)");
                return false;
            }
            refused();
            if (result == OpenTry::AccessDenied)
                reportError(
                    "this user may not open the module: install the udev rule with 'sudo "
                    "quillon setup' (or copy " QUILLON_UDEV_RULE_SOURCE
                    " to /etc/udev/rules.d/), then re-plug the module");
            return false;
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

void reportError(const std::string& text) {
    LibraryConsole::relay();
    std::fprintf(stderr, "quillon: %s\n", text.c_str());
}

OpenModule::OpenModule(const GlobalOptions& options, const InterruptWatch* interrupt) {
    setLogSwitch(options.log ? 1 : 0);
    unsigned int count = 0;
    if (enumerateDevices(&count) != 0) {
        reportLibraryFailure("no module found");
        return;
    }
    // Both list the modules in the HID layer's order: the index chosen there
    // (by serial number too) is this one.
    int device = options.device;
    if (!options.deviceSerial.empty()) {
        const auto modules = listModules();
        const auto chosen = modules ? chooseModule(options, *modules) : std::nullopt;
        if (!chosen) return;
        device = static_cast<int>(*chosen);
    }
    if (device < 0 || static_cast<unsigned>(device) >= count) {
        reportError("no module at index " + std::to_string(device) + " (" + std::to_string(count) +
                    " found)");
        return;
    }
    const std::string which = "module " + std::to_string(device);
    const auto attempt = [device] {
        if (openSpectrometer(device) == 0) return OpenTry::Opened;
        const OpenTry result = lastFailureIs(kBusyText)           ? OpenTry::Busy
                               : lastFailureIs(kAccessDeniedText) ? OpenTry::AccessDenied
                                                                  : OpenTry::Refused;
        closeSpectrometer();  // opening may fail after the handle was taken
        return result;
    };
    if (!openWaiting(options, interrupt, which, attempt,
                     [&which] { reportLibraryFailure("cannot open " + which); }))
        return;
    open_ = true;
    reportRecovery(nullptr);
    if (auto undone = undoInterruptedLearn(options.device)) reportError(*undone);
}

void reportRecovery(quillon_module* module) {
    quillon_recovery_info info{};
    if (quillon_recovery(module, &info) != QUILLON_OK) return;
    if (info.kind == QUILLON_RECOVERY_FINISHED && info.restored > 0)
        reportError("Restored " + std::to_string(info.restored) +
                    " configurations that an interrupted save had not finished writing");
    else if (info.kind == QUILLON_RECOVERY_REFUSED)
        reportError(info.detail);
}

OpenModule::~OpenModule() {
    if (open_) closeSpectrometer();
    LibraryConsole::relay();
}

}  // namespace quillon::cli
