// Every test process keeps the library's per-user state (save journals) in a
// folder of its own, removed at exit: tests that cut saves short on purpose
// must not leave journals for the simulated modules of other tests, which
// all share one serial number.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct StateFolder {
    std::string path;
    StateFolder() {
        char folder[] = "/tmp/quillon-state-XXXXXX";
        if (mkdtemp(folder) == nullptr) return;
        path = folder;
        setenv("XDG_STATE_HOME", folder, 1);
    }
    ~StateFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

const StateFolder g_stateFolder;

}  // namespace
