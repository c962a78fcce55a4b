#include "sim/state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/bytes.h"

namespace quillon::sim {
namespace {

constexpr char kMagic[8] = {'Q', 'S', 'I', 'M', 'S', 'T', 'A', 'T'};
constexpr uint32_t kVersion = 3;
constexpr uint32_t kVersionWithoutLamp = 2;
constexpr uint32_t kSingleModuleVersion = 1;
// No bus holds more; a count above it is not a state file of ours.
constexpr size_t kMaxModules = 64;
// The largest configuration image a WRITE_SCAN_CONFIG message can carry.
constexpr size_t kMaxImageSize = 183;
// Larger files are certainly not ours; they are not even read whole.
constexpr std::streamoff kMaxFileSize = 4 * 1024 * 1024;

uint32_t fnv1a(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 16777619u;
    }
    return hash;
}

using bytes::get16;
using bytes::get32;

// A lock beside the state file for the length of one read or write, so that
// writers of several processes take turns; readers need it only to wait out a
// writer, as the rename keeps every file they open whole.
class FileLock {
  public:
    // A reader finds no lock file where no writer has been.
    FileLock(const std::string& statePath, int operation)
        : fd_(open((statePath + ".lock").c_str(),
                   operation == LOCK_EX ? O_RDWR | O_CREAT | O_CLOEXEC : O_RDONLY | O_CLOEXEC,
                   0644)) {
        if (fd_ >= 0) flock(fd_, operation);
    }
    ~FileLock() {
        if (fd_ >= 0) close(fd_);
    }
    bool held() const { return fd_ >= 0; }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

  private:
    int fd_;
};

// Writers take turns under the lock, so one temporary name serves them all.
std::string temporaryName(const std::string& path) {
    return path + ".tmp";
}

// While the lock is held no writer is at work: a temporary file beside the
// state file was left by one that was killed (older simulators named theirs
// after their process id) and goes, so no process trips on it.
void removeStaleTemporaries(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path state(path);
    const std::string prefix = state.filename().string() + ".tmp";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(state.parent_path(), error)) {
        const std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        if (rest.find_first_not_of("0123456789") == std::string::npos)
            fs::remove(entry.path(), error);
    }
}

void appendModule(std::vector<uint8_t>& out, const PersistedState& state) {
    out.push_back(state.activeIndex);
    out.push_back(state.lampOn ? 1 : 0);
    out.push_back(static_cast<uint8_t>(state.configImages.size()));
    for (const Image& image : state.configImages) {
        bytes::append16(out, static_cast<uint16_t>(image.size()));
        out.insert(out.end(), image.begin(), image.end());
    }
}

// Reads one module's part at `at` (advanced past it); false with `why` set.
bool readModule(const std::vector<uint8_t>& bytes, size_t body, bool hasLamp, size_t& at,
                PersistedState& state, std::string& why) {
    if (at + (hasLamp ? 3 : 2) > body) {
        why = "damaged (truncated)";
        return false;
    }
    state.activeIndex = bytes[at++];
    if (hasLamp) {
        if (bytes[at] > 1) {
            why = "damaged (lamp state)";
            return false;
        }
        state.lampOn = bytes[at++] == 1;
    }
    const size_t count = bytes[at++];
    if (count > kMaxStoredConfigs) {
        why = "damaged (too many configurations)";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        if (at + 2 > body) {
            why = "damaged (truncated)";
            return false;
        }
        const size_t imageSize = get16(bytes.data() + at);
        at += 2;
        if (imageSize == 0 || imageSize > kMaxImageSize || at + imageSize > body) {
            why = "damaged (bad image size)";
            return false;
        }
        Image image(bytes.begin() + at, bytes.begin() + at + imageSize);
        ScanConfig config;
        if (!decodeStoredConfig(image, config)) {
            why = "damaged (a configuration image does not decode)";
            return false;
        }
        state.configImages.push_back(std::move(image));
        at += imageSize;
    }
    return true;
}

StateLoad loadUnlocked(const std::string& path, std::vector<PersistedState>& modules,
                       std::string& why) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return StateLoad::Missing;
    const std::streamoff size = in.tellg();
    if (size < 0 || size > kMaxFileSize) {
        why = "not a simulator state file (size)";
        return StateLoad::Refused;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
        why = "cannot be read";
        return StateLoad::Refused;
    }
    constexpr size_t kFixed = sizeof kMagic + 4;
    if (bytes.size() < kFixed + 2 + 4 || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        why = "not a simulator state file";
        return StateLoad::Refused;
    }
    const uint32_t version = get32(bytes.data() + sizeof kMagic);
    if (version != kVersion && version != kVersionWithoutLamp && version != kSingleModuleVersion) {
        why = "written by another version of the simulator";
        return StateLoad::Refused;
    }
    const size_t body = bytes.size() - 4;
    if (fnv1a(bytes.data(), body) != get32(bytes.data() + body)) {
        why = "damaged (checksum mismatch)";
        return StateLoad::Refused;
    }
    size_t at = kFixed;
    size_t count = 1;
    if (version != kSingleModuleVersion) {
        count = bytes[at++];
        if (count > kMaxModules) {
            why = "damaged (too many modules)";
            return StateLoad::Refused;
        }
    }
    std::vector<PersistedState> loaded(count);
    for (PersistedState& state : loaded)
        if (!readModule(bytes, body, version == kVersion, at, state, why))
            return StateLoad::Refused;
    if (at != body) {
        why = "damaged (trailing bytes)";
        return StateLoad::Refused;
    }
    modules = std::move(loaded);
    return StateLoad::Loaded;
}

}  // namespace

std::vector<uint8_t> encodeStateFile(const std::vector<PersistedState>& modules) {
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    bytes::append32(out, kVersion);
    out.push_back(static_cast<uint8_t>(modules.size()));
    for (const PersistedState& state : modules) appendModule(out, state);
    bytes::append32(out, fnv1a(out.data(), out.size()));
    return out;
}

StateLoad loadStateFile(const std::string& path, std::vector<PersistedState>& modules,
                        std::string& why) {
    FileLock lock(path, LOCK_SH);
    if (lock.held()) removeStaleTemporaries(path);
    return loadUnlocked(path, modules, why);
}

bool saveModuleState(const std::string& path, size_t slot, const PersistedState& state) {
    if (slot >= kMaxModules) return false;
    FileLock lock(path, LOCK_EX);
    // The other modules as they are now: another process may have changed them.
    std::vector<PersistedState> modules;
    std::string why;
    if (loadUnlocked(path, modules, why) == StateLoad::Refused) modules.clear();
    if (modules.size() <= slot) {
        const ModuleState factory = factoryState();
        modules.resize(slot + 1,
                       PersistedState{factory.activeIndex, factory.configImages, factory.lampOn});
    }
    modules[slot] = state;
    const std::vector<uint8_t> bytes = encodeStateFile(modules);
    const std::string temporary = temporaryName(path);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out) return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace quillon::sim
