// The save journal of an open module: every save of its configurations is
// journaled, and opening it finishes (or sets aside) the save of a process
// that did not get to the end of one.
#pragma once

#include <deque>

#include "config/journaled_save.h"
#include "core/module.h"

namespace quillon {

// Run by every opening once the link is open and before the module is read,
// so what it reads is the finished list. Leaves its result in module.recovery.
void recoverSaveAtOpen(Module& module);

// Journals a save of `intended` over what the module holds now (as read, with
// its active position). Not journaled when no folder can take it: logged, and
// the save goes on as it would without one.
JournaledSave journalSave(Module& module, const std::deque<ScanConfig>& intended,
                          uint8_t intendedActive);

}  // namespace quillon
