// What `quillon hadamard learn` changes on the module while it works (a
// temporary configuration, the active position) is put back even when the
// run is killed: it writes down what it found before changing anything, and
// the next quillon command that opens the module undoes a run that never got
// to clear that note. The note lives in the program's own state folder,
// $XDG_STATE_HOME/quillon (else ~/.local/state/quillon), one per module.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::cli {

// Before learning changes anything: the names stored, the active position,
// and the name of the temporary configuration it may store.
bool recordLearnStart(int device, const std::vector<std::string>& names, int active,
                      const std::string& temporary, std::string& why);
// Learning put everything back itself.
void clearLearnStart(int device);

// With the module open: undoes a learning run that was killed, when the
// module still holds what it found plus at most the temporary configuration.
// The line to tell the user, when something was undone or refused.
std::optional<std::string> undoInterruptedLearn(int device);

}  // namespace quillon::cli
