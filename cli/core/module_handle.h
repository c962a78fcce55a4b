// Opening the module a command works on through quillon.h: chosen by
// --device (an index of `quillon list` or a serial number), waited for while
// another program holds it, closed again at the end.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "module_session.h"
#include "quillon.h"

namespace quillon::cli {

// The attached modules, in the order `quillon list` shows them; nothing (with
// the failure reported) when none can be listed.
std::optional<std::vector<quillon_module_info>> listModules();

// The module --device names among `modules`: its index, or nothing (reported)
// when no module matches.
std::optional<size_t> chooseModule(const GlobalOptions& options,
                                   const std::vector<quillon_module_info>& modules);

// Prints "quillon: <what>: <the result's text>" on standard error.
void reportResult(const std::string& what, quillon_result result);

class ModuleHandle {
  public:
    explicit ModuleHandle(const GlobalOptions& options, const InterruptWatch* interrupt = nullptr);
    ~ModuleHandle();
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;

    bool ok() const { return module_ != nullptr; }
    quillon_module* get() const { return module_; }

  private:
    quillon_module* module_ = nullptr;
};

}  // namespace quillon::cli
