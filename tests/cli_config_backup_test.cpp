// `quillon config export` / `import`: a backup restores the module byte for
// byte, and a file that is wrong in any way stores nothing at all.
#include <gtest/gtest.h>

#include <fstream>

#include "cli_process.h"
#include "support/scratch_dir.h"

using namespace quillon::test;

namespace {

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

TEST(CliConfigBackup, ExportRemoveAllImportRestoresTheModuleByteForByte) {
    ScratchDir dir;
    const std::string state = dir.path() + "/module.state";
    const Env env = {{"QUILLONLIB_SIMULATOR_STATE", state}};
    ASSERT_EQ(runQuillon({"config", "add", "Mine", "--repeats", "3", "--section",
                          "type=Hadamard,start=1000,end=1400,width=9.37,patterns=40,"
                          "exposure=1.27"},
                         env)
                  .status,
              0);
    ASSERT_EQ(runQuillon({"activate", "3"}, env).status, 0);
    const std::string before = readFile(state);
    const CliRun exported = runQuillon({"config", "export", "backup.json"}, env);
    ASSERT_EQ(exported.status, 0) << exported.err;
    EXPECT_EQ(exported.out, "Exported 4 configurations to backup.json\n");
    const std::string backup = readFile("backup.json");
    EXPECT_NE(backup.find("\"active_position\": 3"), std::string::npos);
    EXPECT_NE(backup.find("\"repeats\": 3"), std::string::npos);

    const CliRun removed = runQuillon({"config", "rm", "--all"}, env);
    EXPECT_EQ(removed.out, "Removed all 4 configurations\n") << removed.err;
    EXPECT_NE(runQuillon({"configs"}, env).out.find("0 stored configurations"), std::string::npos);
    const CliRun imported = runQuillon({"config", "import", "backup.json", "--replace"}, env);
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(readFile(state), before) << "the state file differs after the round trip";

    // Appending the same names again is refused before anything is sent.
    const CliRun twice = runQuillon({"config", "import", "backup.json"}, env);
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("\"Column 900-1700\" is stored already; nothing was stored"),
              std::string::npos)
        << twice.err;

    // Every kind of fault in the file: refused, the module untouched.
    const size_t record = backup.find("\"record\": \"") + 11;
    std::string flipped = backup;
    flipped[record + 40] = flipped[record + 40] == '0' ? '1' : '0';
    const std::pair<const char*, std::string> faults[] = {
        {"not JSON", "{\"format\": "},
        {"a record of another configuration", flipped},
        {"a name edited beside its record", replaced(backup, "\"Mine\"", "\"Yours\"")},
        {"too many patterns", replaced(backup, "\"patterns\": 40", "\"patterns\": 900")},
        {"a width outside the table", replaced(backup, "\"width\": 9.37", "\"width\": 9.4")},
        {"an active position past 19",
         replaced(backup, "\"active_position\": 3", "\"active_position\": 25")},
        {"positions out of order", replaced(backup, "\"position\": 1", "\"position\": 2")},
        {"an unknown key", replaced(backup, "\"repeats\": 3", "\"repeats\": 3, \"x\": 1")},
    };
    for (const auto& [what, text] : faults) {
        writeText("bad.json", text);
        const CliRun run = runQuillon({"config", "import", "bad.json", "--replace"}, env);
        EXPECT_EQ(run.status, 2) << what << ": " << run.err;
        EXPECT_NE(run.err.find("nothing was stored"), std::string::npos) << what << ": " << run.err;
        EXPECT_EQ(readFile(state), before) << what;
    }
}

}  // namespace
