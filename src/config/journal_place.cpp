#include "config/journal_place.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "core/module_hold.h"

namespace quillon {
namespace {

std::string utf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wide : text) {
        auto c = static_cast<uint32_t>(wide);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Creates the folder and its missing parents; the ones made are private.
bool makeFolders(const std::string& folder) {
    for (size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/') continue;
        const std::string part = folder.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat info {};
    return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           access(folder.c_str(), W_OK | X_OK) == 0;
}

bool absolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

}  // namespace

std::vector<std::string> journalFolders() {
    std::vector<std::string> folders;
    // A relative $XDG_STATE_HOME is invalid and ignored, as the base
    // directory rules say.
    if (const char* state = std::getenv("XDG_STATE_HOME"); absolute(state))
        folders.push_back(std::string(state) + "/quillonlib");
    if (const char* home = std::getenv("HOME"); absolute(home))
        folders.push_back(std::string(home) + "/.local/state/quillonlib");
    const std::vector<std::string> runtime = holdFolders();
    if (!runtime.empty())
        folders.push_back(runtime.front() + "/quillonlib-" + std::to_string(getuid()));
    return folders;
}

JournalTarget journalTargetFor(const std::wstring& serialNumber, const std::string& path) {
    JournalTarget target;
    target.module.serialNumber = utf8(serialNumber);
    target.module.path = path;
    const std::string key =
        serialNumber.empty() ? "path:" + path : "serial:" + target.module.serialNumber;
    std::string name = holdFileName(key);
    name.replace(name.size() - 5, 5, ".journal");  // ".lock"
    for (const std::string& folder : journalFolders()) {
        if (makeFolders(folder)) {
            target.file = folder + "/" + name;
            break;
        }
    }
    return target;
}

}  // namespace quillon
