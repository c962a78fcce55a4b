#include "learn_undo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "quillonlib.h"
#include "stored_configs.h"

namespace quillon::cli {
namespace {

std::string noteFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/quillon";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/state/quillon";
    return {};
}

// One note per module: the library's versions name the model, the index the
// one of several; the names in the note guard against another module.
std::string notePath(int device) {
    const std::string folder = noteFolder();
    if (folder.empty()) return {};
    unsigned v[7] = {};
    getVersions(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6]);
    char name[160];
    std::snprintf(name, sizeof name, "/learn-%d-%08x%08x%08x.json", device, v[0], v[1], v[2]);
    return folder + name;
}

bool makeFolder(const std::string& folder) {
    for (size_t at = 1; at <= folder.size(); ++at)
        if (at == folder.size() || folder[at] == '/') mkdir(folder.substr(0, at).c_str(), 0700);
    return access(folder.c_str(), W_OK) == 0;
}

// Written to a temporary file, synced and renamed: the note is whole or absent.
bool writeDurably(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool written =
        write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    close(fd);
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    const size_t slash = path.rfind('/');
    const int folder = open(path.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

}  // namespace

bool recordLearnStart(int device, const std::vector<std::string>& names, int active,
                      const std::string& temporary, std::string& why) {
    const std::string path = notePath(device);
    if (path.empty() || !makeFolder(path.substr(0, path.rfind('/')))) {
        why = "no folder for the note that undoes an interrupted run (set XDG_STATE_HOME)";
        return false;
    }
    const nlohmann::json note = {
        {"names", names}, {"active_position", active}, {"temporary", temporary}};
    if (!writeDurably(path, note.dump() + "\n")) {
        why = "the note that undoes an interrupted run cannot be written: " + path;
        return false;
    }
    return true;
}

void clearLearnStart(int device) {
    const std::string path = notePath(device);
    if (!path.empty()) unlink(path.c_str());
}

std::optional<std::string> undoInterruptedLearn(int device) {
    const std::string path = notePath(device);
    if (path.empty()) return std::nullopt;
    // A note a killed run was still writing: it changed nothing yet.
    unlink((path + ".new").c_str());
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json note = nlohmann::json::parse(text.str(), nullptr, false);
    unlink(path.c_str());
    const std::string refused = "a note of an interrupted `quillon hadamard learn` (" + path + ")";
    if (note.is_discarded() || !note.contains("names") || !note["names"].is_array() ||
        !note.contains("active_position") || !note["active_position"].is_number_unsigned() ||
        !note.contains("temporary") || !note["temporary"].is_string())
        return refused + " was damaged and is ignored";
    std::vector<std::string> found;
    for (const auto& name : note["names"]) {
        if (!name.is_string()) return refused + " was damaged and is ignored";
        found.push_back(name.get<std::string>());
    }
    const std::string probe = note["temporary"].get<std::string>();
    std::vector<std::string> stored;
    bool temporary = false;
    for (const ConfigView& config : readConfigurations()) {
        if (config.name == probe)
            temporary = true;
        else
            stored.push_back(config.name);
    }
    std::sort(found.begin(), found.end());
    std::sort(stored.begin(), stored.end());
    if (stored != found)
        return refused + " does not fit the module's configurations any more and is ignored";
    if (temporary && removeTgtCfg(probe.c_str()) != 0)
        return "could not remove the temporary configuration \"" + probe +
               "\" of an interrupted `quillon hadamard learn`: " + getLastException();
    const int active = note["active_position"].get<int>();
    if (setActiveScanIndex(static_cast<unsigned char>(active)) != 0)
        return "could not make position " + std::to_string(active) +
               " active again after an interrupted `quillon hadamard learn`";
    return std::string("undid an interrupted `quillon hadamard learn`: ") +
           (temporary ? "its temporary configuration removed, " : "") + "position " +
           std::to_string(active) + " active again";
}

}  // namespace quillon::cli
