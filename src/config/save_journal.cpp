#include "config/save_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/bytes.h"
#include "core/limits.h"
#include "link/commands.h"
#include "serial/records.h"

namespace quillon {
namespace {

constexpr char kMagic[8] = {'Q', 'L', 'S', 'A', 'V', 'E', 'J', 'R'};
constexpr uint32_t kVersion = 1;
constexpr size_t kMaxSerialBytes = 512;
constexpr size_t kMaxPathBytes = 4096;
// Two full lists of the largest images and the longest identity fit well within.
constexpr size_t kMaxFileSize = 64 * 1024;

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendText(std::vector<uint8_t>& out, const std::string& text) {
    bytes::append16(out, static_cast<uint16_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

void appendList(std::vector<uint8_t>& out, uint8_t active, const std::vector<ConfigImage>& list) {
    out.push_back(active);
    out.push_back(static_cast<uint8_t>(list.size()));
    for (const ConfigImage& image : list) {
        bytes::append16(out, static_cast<uint16_t>(image.size()));
        out.insert(out.end(), image.begin(), image.end());
    }
}

// Reads fields off the checked body; every read is bounded by it.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool take(size_t count, const uint8_t*& at) {
        if (count > size_ - used_) return false;
        at = data_ + used_;
        used_ += count;
        return true;
    }
    bool u8(uint8_t& value) {
        const uint8_t* at;
        if (!take(1, at)) return false;
        value = *at;
        return true;
    }
    bool u16(uint16_t& value) {
        const uint8_t* at;
        if (!take(2, at)) return false;
        value = bytes::get16(at);
        return true;
    }
    bool u32(uint32_t& value) {
        const uint8_t* at;
        if (!take(4, at)) return false;
        value = bytes::get32(at);
        return true;
    }
    bool text(size_t limit, std::string& value) {
        uint16_t length = 0;
        const uint8_t* at;
        if (!u16(length) || length > limit || !take(length, at)) return false;
        value.assign(reinterpret_cast<const char*>(at), length);
        return value.find('\0') == std::string::npos;
    }
    bool done() const { return used_ == size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t used_ = 0;
};

bool readList(Reader& in, uint8_t& active, std::vector<ConfigImage>& list, std::string& why) {
    uint8_t count = 0;
    if (!in.u8(active) || !in.u8(count)) {
        why = "truncated";
        return false;
    }
    if (count > kMaxStoredConfigs) {
        why = "more configurations than a module stores";
        return false;
    }
    for (uint8_t i = 0; i < count; ++i) {
        uint16_t size = 0;
        const uint8_t* at;
        if (!in.u16(size) || !in.take(size, at)) {
            why = "truncated";
            return false;
        }
        ScanConfig config{};
        if (size == 0 || size > link::kMaxWrittenConfigImage ||
            decodeScanConfig(at, size, config) != RecordStatus::Ok) {
            why = "a configuration image does not decode";
            return false;
        }
        list.emplace_back(at, at + size);
    }
    return true;
}

bool writeAll(int fd, const std::vector<uint8_t>& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string folderOf(const std::string& file) {
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : file.substr(0, slash);
}

bool syncFolder(const std::string& file) {
    const int fd = open(folderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

}  // namespace

bool sameModule(const ModuleIdentity& a, const ModuleIdentity& b) {
    return a.serialNumber == b.serialNumber &&
           std::memcmp(a.versions, b.versions, sizeof a.versions) == 0;
}

std::vector<uint8_t> encodeSaveJournal(const SaveJournal& journal) {
    std::vector<uint8_t> out(std::begin(kMagic), std::end(kMagic));
    bytes::append32(out, kVersion);
    bytes::append32(out, 0);  // total length, filled in below
    appendText(out, journal.module.serialNumber);
    for (uint32_t word : journal.module.versions) bytes::append32(out, word);
    appendText(out, journal.module.path);
    appendList(out, journal.intendedActive, journal.intended);
    appendList(out, journal.beforeActive, journal.before);
    bytes::put32(out.data() + 12, static_cast<uint32_t>(out.size() + 4));
    bytes::append32(out, crc32(out.data(), out.size()));
    return out;
}

bool decodeSaveJournal(const uint8_t* data, size_t size, SaveJournal& journal, std::string& why) {
    constexpr size_t kHead = sizeof kMagic + 8;
    if (data == nullptr || size < kHead + 4 || std::memcmp(data, kMagic, sizeof kMagic) != 0) {
        why = "not a save journal";
        return false;
    }
    if (bytes::get32(data + 8) != kVersion) {
        why = "written by another version";
        return false;
    }
    if (bytes::get32(data + 12) != size) {
        why = "length mismatch";
        return false;
    }
    const size_t body = size - 4;
    if (crc32(data, body) != bytes::get32(data + body)) {
        why = "checksum mismatch";
        return false;
    }
    SaveJournal read;
    Reader in(data + kHead, body - kHead);
    bool ok = in.text(kMaxSerialBytes, read.module.serialNumber);
    for (uint32_t& word : read.module.versions) ok = ok && in.u32(word);
    ok = ok && in.text(kMaxPathBytes, read.module.path);
    if (!ok) {
        why = "damaged identity";
        return false;
    }
    if (!readList(in, read.intendedActive, read.intended, why) ||
        !readList(in, read.beforeActive, read.before, why))
        return false;
    if (!in.done()) {
        why = "trailing bytes";
        return false;
    }
    journal = std::move(read);
    return true;
}

bool writeSaveJournal(const std::string& file, const SaveJournal& journal) {
    const std::vector<uint8_t> data = encodeSaveJournal(journal);
    // One writer per module: the process that holds it. A ".new" left by a
    // killed writer is simply overwritten.
    const std::string temporary = file + ".new";
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    const bool written = writeAll(fd, data) && fdatasync(fd) == 0;
    close(fd);
    if (!written || std::rename(temporary.c_str(), file.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return syncFolder(file);
}

JournalLoad readSaveJournal(const std::string& file, SaveJournal& journal, std::string& why) {
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT) return JournalLoad::Missing;
        why = std::string("cannot be opened: ") + std::strerror(errno);
        return JournalLoad::Refused;
    }
    struct stat info {};
    std::vector<uint8_t> data;
    bool read_ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
                   static_cast<size_t>(info.st_size) <= kMaxFileSize;
    if (read_ok) {
        data.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = read(fd, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        read_ok = done == data.size();
    }
    close(fd);
    if (!read_ok) {
        why = "not a save journal (size)";
        return JournalLoad::Refused;
    }
    return decodeSaveJournal(data.data(), data.size(), journal, why) ? JournalLoad::Loaded
                                                                     : JournalLoad::Refused;
}

void removeSaveJournal(const std::string& file) {
    unlink(file.c_str());
    unlink((file + ".new").c_str());
}

std::string setSaveJournalAside(const std::string& file) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string aside = file + ".refused-" + stamp;
    // Never over an earlier refused journal of the same second.
    for (int n = 1; access(aside.c_str(), F_OK) == 0 && n < 100; ++n)
        aside = file + ".refused-" + stamp + "-" + std::to_string(n);
    if (std::rename(file.c_str(), aside.c_str()) != 0) return {};
    syncFolder(file);
    return aside;
}

}  // namespace quillon
