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
    {"setup", "setup [--root DIR]   let users open the module (installs the udev rule)", runSetup},
    {"hadamard", "hadamard learn|check learn the module's Hadamard table, check decoding",
     runHadamard},
    {"serve", "serve [--port N]     live view in the browser and a JSON API", runServe},
    {"publish", "publish --broker URL  the modules' spectra and commands over MQTT", runPublish},
};

// "device" or "wait" for "--device", "--device=N", "--wait", "--wait=S"; null otherwise.
const char* valuedGlobalOption(const std::string& word) {
    for (const char* name : {"device", "wait"}) {
        const std::string option = std::string("--") + name;
        if (word == option || word.rfind(option + "=", 0) == 0) return name;
    }
    return nullptr;
}

void printUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: quillon [--device N] [--wait S] [--log] COMMAND [OPTIONS]\n"
                 "\n"
                 "Drives a near-infrared spectrometer module over USB through quillonlib.\n"
                 "\n"
                 "Commands:\n");
    for (const Command& command : kCommands) std::fprintf(out, "  %s\n", command.synopsis);
    std::fprintf(out,
                 "\n%s"
                 "\n"
                 "'quillon COMMAND --help' tells more. Exit status: 0 success, 1 failed\n"
                 "operation, 2 usage error, 130 (143) stopped by Ctrl-C (SIGTERM).\n"
                 "With QUILLONLIB_SIMULATOR=1 the library drives a simulated module;\n"
                 "QUILLONLIB_SIMULATOR_STATE=FILE keeps its stored configurations across runs.\n",
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
        } else if (const char* name = valuedGlobalOption(word)) {
            const size_t equals = word.find('=');
            std::string value;
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                std::fprintf(stderr, "quillon: --%s needs a value\n", name);
                return kExitUsage;
            }
            if (auto error = setGlobalOption(name, value, global)) {
                std::fprintf(stderr, "quillon: %s\n", error->c_str());
                return kExitUsage;
            }
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
