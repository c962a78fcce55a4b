#include "config/save_recovery.h"

#include <algorithm>

namespace quillon {
namespace {

bool isPrefix(const std::vector<ConfigImage>& shorter, const std::vector<ConfigImage>& longer) {
    return shorter.size() <= longer.size() &&
           std::equal(shorter.begin(), shorter.end(), longer.begin());
}

RecoveryOutcome setAside(const std::string& file, const std::string& why,
                         const RecoveryAccess& module) {
    RecoveryOutcome outcome;
    outcome.kind = RecoveryOutcome::Refused;
    const std::string aside = setSaveJournalAside(file);
    // A journal that cannot be moved would be refused again at every open;
    // removing it is the only way to report it once.
    if (aside.empty()) removeSaveJournal(file);
    outcome.detail = "save journal " + file + " not applied (" + why + ")" +
                     (aside.empty() ? "; removed" : "; kept as " + aside);
    module.log(LOG_ERROR, outcome.detail);
    return outcome;
}

}  // namespace

RecoveryPlan planRecovery(const SaveJournal& journal, const std::vector<ConfigImage>& stored) {
    // A save that stores the list it found (only the active position
    // changes) is finished rather than dropped: its one change is still due.
    if (stored == journal.before && journal.before != journal.intended)
        return {RecoveryAction::Drop};
    if (isPrefix(stored, journal.intended)) return {RecoveryAction::Finish, stored.size()};
    // No save of the intended list leaves this, only the write-back of the
    // list from before after a failed save (which runs under that save's
    // journal) when it is cut short in turn.
    if (isPrefix(stored, journal.before)) return {RecoveryAction::Finish, stored.size(), true};
    return {RecoveryAction::SetAside};
}

RecoveryOutcome recoverInterruptedSave(const std::string& file, const RecoveryAccess& module) {
    SaveJournal journal;
    std::string why;
    switch (readSaveJournal(file, journal, why)) {
        case JournalLoad::Missing:
            removeSaveJournal(file);  // a ".new" of a writer killed before its rename
            return {};
        case JournalLoad::Refused:
            return setAside(file, "damaged: " + why, module);
        case JournalLoad::Loaded:
            break;
    }
    RecoveryOutcome pending;
    pending.kind = RecoveryOutcome::Pending;
    ModuleIdentity here;
    if (!module.identify(here)) {
        module.log(LOG_ERROR, "save journal kept: the module's versions could not be read");
        return pending;
    }
    if (!sameModule(here, journal.module))
        return setAside(file, "written for another module, " + journal.module.path, module);
    std::vector<ConfigImage> stored;
    uint8_t active = 0;
    if (!module.readStored(stored, active)) {
        module.log(LOG_ERROR, "save journal kept: the stored configurations could not be read");
        return pending;
    }
    const RecoveryPlan plan = planRecovery(journal, stored);
    RecoveryOutcome outcome;
    switch (plan.action) {
        case RecoveryAction::SetAside:
            return setAside(file, "the module's configurations changed since", module);
        case RecoveryAction::Drop:
            if (active != journal.beforeActive) module.setActive(journal.beforeActive);
            outcome.kind = RecoveryOutcome::Dropped;
            break;
        case RecoveryAction::Finish: {
            const std::vector<ConfigImage>& target =
                plan.towardBefore ? journal.before : journal.intended;
            const uint8_t targetActive =
                plan.towardBefore ? journal.beforeActive : journal.intendedActive;
            for (size_t p = plan.firstToWrite; p < target.size(); ++p) {
                if (!module.write(static_cast<uint8_t>(p), target[p])) {
                    module.log(LOG_ERROR, "save journal kept: writing configuration " +
                                              std::to_string(p) + " failed");
                    return pending;
                }
            }
            // Refused by a module for a position past its list, like any save's.
            if (active != targetActive || plan.firstToWrite < target.size())
                module.setActive(targetActive);
            outcome.kind = RecoveryOutcome::Finished;
            outcome.restored = static_cast<unsigned>(target.size() - plan.firstToWrite);
            if (outcome.restored > 0)
                module.log(INFO, "Restored " + std::to_string(outcome.restored) +
                                     " configurations that an interrupted save had not "
                                     "finished writing");
            break;
        }
    }
    removeSaveJournal(file);
    return outcome;
}

}  // namespace quillon
