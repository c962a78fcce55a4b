// The three ways the program ends, as scripts see them.
#pragma once

namespace quillon::cli {

enum ExitStatus : int {
    kExitOk = 0,      // the command did what was asked
    kExitFailed = 1,  // the module or the library refused or failed
    kExitUsage = 2,   // the command line was wrong; nothing was sent to the module
};

}  // namespace quillon::cli
