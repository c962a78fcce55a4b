// quillon: the library's command-line face, for people at a terminal and for
// scripts. It uses the public C interface only, like any other host.
#include <cstdio>
#include <cstring>

#include "command_frame.h"
#include "commands.h"
#include "exit_status.h"
#include "library_console.h"
#include "quillonlib.h"

using namespace quillon::cli;

namespace {

const Command kCommands[] = {
    {"list", "list                 attached modules", runList},
    {"info", "info                 versions, estimated scan time, active configuration", runInfo},
    {"configs", "configs [--positions] stored configurations and their sections", runConfigs},
    {"config", "config add NAME --section ... [--repeats N] | config rm NAME", runConfig},
    {"activate", "activate INDEX|NAME  choose the configuration to scan with", runActivate},
    {"lamp", "lamp on|off          switch the lamp", runLamp},
    {"limits", "limits [...]         widths, exposure times, largest pattern counts", runLimits},
    {"scan", "scan [...]           measure a spectrum (table, --csv, --json, --plot, --jcamp)",
     runScan},
    {"hadamard", "hadamard learn|check learn the module's Hadamard table, check decoding",
     runHadamard},
    {"serve", "serve [--port N]     live view in the browser and a JSON API", runServe},
};

void printUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: quillon [--device N] [--log] COMMAND [OPTIONS]\n"
                 "\n"
                 "Drives a near-infrared spectrometer module over USB through quillonlib.\n"
                 "\n"
                 "Commands:\n");
    for (const Command& command : kCommands) std::fprintf(out, "  %s\n", command.synopsis);
    std::fprintf(out,
                 "\n%s"
                 "\n"
                 "'quillon COMMAND --help' tells more. Exit status: 0 success, 1 failed\n"
                 "operation, 2 usage error. With QUILLONLIB_SIMULATOR=1 the library drives a\n"
                 "simulated module; QUILLONLIB_SIMULATOR_STATE=FILE keeps its stored\n"
                 "configurations across runs.\n",
                 kGlobalOptionsHelp);
}

}  // namespace

int main(int argc, char** argv) {
    LibraryConsole::divert();
    GlobalOptions global;
    int i = 1;
    // Global options may also stand before the command.
    for (; i < argc && std::strncmp(argv[i], "-", 1) == 0; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            printUsage(LibraryConsole::out());
            return kExitOk;
        }
        if (word == "--log") {
            global.log = true;
        } else if (word == "--device" || word.rfind("--device=", 0) == 0) {
            std::string value;
            if (word == "--device") {
                if (i + 1 >= argc) {
                    std::fprintf(stderr, "quillon: --device needs a module index\n");
                    return kExitUsage;
                }
                value = argv[++i];
            } else {
                value = word.substr(9);
            }
            long index = 0;
            if (!parseInteger(value, 0, 255, index)) {
                std::fprintf(stderr, "quillon: --device needs a module index, not '%s'\n",
                             value.c_str());
                return kExitUsage;
            }
            global.device = static_cast<int>(index);
        } else {
            std::fprintf(stderr, "quillon: unknown option '%s'\n", word.c_str());
            printUsage(stderr);
            return kExitUsage;
        }
    }
    if (i >= argc) {
        printUsage(stderr);
        return kExitUsage;
    }
    const std::string name = argv[i];
    const Words words(argv + i + 1, argv + argc);
    for (const Command& command : kCommands) {
        if (name != command.name) continue;
        const int status = command.run(words, global);
        std::fflush(LibraryConsole::out());
        LibraryConsole::relay();
        return status;
    }
    std::fprintf(stderr, "quillon: unknown command '%s'\n\n", name.c_str());
    printUsage(stderr);
    return kExitUsage;
}
