// What opening a module does with the journal of a save that did not finish:
// the module's stored list, compared byte for byte with the journal's lists,
// says whether the save never began, stopped part way, or whether the module
// was changed elsewhere since (then the journal is never applied).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "config/save_journal.h"
#include "log/log_writer.h"

namespace quillon {

enum class RecoveryAction {
    Drop,      // the module holds the list from before: the save never began
    Finish,    // the module holds a prefix of the target list: write the rest
    SetAside,  // the module holds something else: not ours to overwrite
};

struct RecoveryPlan {
    RecoveryAction action;
    size_t firstToWrite = 0;    // Finish: the target list's first missing position
    bool towardBefore = false;  // Finish: the target is the list from before
};

RecoveryPlan planRecovery(const SaveJournal& journal, const std::vector<ConfigImage>& stored);

// The module as recovery sees it; each returns false on a failed exchange.
struct RecoveryAccess {
    std::function<bool(ModuleIdentity& module)> identify;  // versions; serial and path as known
    std::function<bool(std::vector<ConfigImage>& stored, uint8_t& active)> readStored;
    std::function<bool(uint8_t position, const ConfigImage& image)> write;
    std::function<bool(uint8_t position)> setActive;
    std::function<void(LogLevel level, const std::string& message)> log;
};

// Looks for the journal at `file` and acts on it. Writes to the module only
// for a whole journal of this very module whose plan is Drop or Finish.
RecoveryOutcome recoverInterruptedSave(const std::string& file, const RecoveryAccess& module);

}  // namespace quillon
