// Where the save journal of a module lives: a per-user state folder,
// $XDG_STATE_HOME/quillonlib, else $HOME/.local/state/quillonlib, else a
// private folder beside the module hold's lock files. One journal per module,
// named after its serial number (which survives a re-plug, unlike the path),
// or after its path when it reports none.
#pragma once

#include <string>

#include "config/journaled_save.h"

namespace quillon {

// The target for the module found with this serial number and path; its
// file is empty when no folder could be made. Version words are left to fill.
JournalTarget journalTargetFor(const std::wstring& serialNumber, const std::string& path);

// The candidate folders in order of preference (not created).
std::vector<std::string> journalFolders();

}  // namespace quillon
