// Storing a new configuration on the open module: the checks that need the
// module (name taken, module full, the calibration's largest pattern counts)
// and the library calls, shared by `quillon config add` and `quillon serve`.
#pragma once

#include <string>
#include <vector>

#include "section_values.h"

namespace quillon::cli {

struct ModuleOutcome {
    enum Kind {
        Done,      // text says what was done
        Invalid,   // the request cannot be stored as given; nothing was sent
        Conflict,  // the module's state forbids it now (name taken, module full)
        Failed,    // the library refused or failed; text ends with its reason
    };
    Kind kind = Done;
    std::string text;
};

// `sections` passed checkSections already; `repeats` is 1 to 65535.
ModuleOutcome storeConfiguration(const std::string& name,
                                 const std::vector<SectionRequest>& sections, unsigned repeats);

}  // namespace quillon::cli
