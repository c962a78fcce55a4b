// One module as the publisher serves it: its handle, which the host core
// measures with, and its facts and active configuration. Called on the
// module's own thread, cancel() excepted.
#pragma once

#include <array>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "quillon.h"

namespace quillon::cli::publish {

struct ModuleFacts {
    std::optional<std::array<unsigned, 7>> versions;
    // By position: {"position", "name", "points", "sections": [...]}.
    nlohmann::ordered_json configurations = nlohmann::ordered_json::array();
    std::optional<size_t> activePosition;
    std::optional<std::string> activeName;
};

class Instrument {
  public:
    virtual ~Instrument() = default;
    virtual quillon_module* handle() const = 0;
    virtual const std::string& serial() const = 0;
    // False with the reason.
    virtual bool read(ModuleFacts& facts, std::string& why) = 0;
    virtual bool activate(size_t position, std::string& why) = 0;
    // From any thread: the scan in progress ends as soon as it can.
    virtual void cancel() = 0;
    // After a failure: whether the module went away.
    virtual bool gone() const = 0;
};

// An attached module the publisher may serve.
struct AttachedModule {
    std::string path;
    std::string serial;
};

// Every attached module; false with the reason when none can be listed.
bool listModules(std::vector<AttachedModule>& modules, std::string& why);
// Opens one of them; null with the reason when it cannot be opened.
std::unique_ptr<Instrument> openInstrument(const AttachedModule& module, std::string& why);

}  // namespace quillon::cli::publish
