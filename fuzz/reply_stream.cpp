#include "reply_stream.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "link/command_codes.h"

namespace quillon::fuzz {
namespace {

struct Entry {
    int result;  // what the read returns: bytes, 0 (time-out) or -1
    uint8_t bytes[64];
};

struct Player {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t at = 0;
    std::deque<Entry> waiting;
};
Player player;

int handleToken;  // any non-null address serves as the open handle

uint8_t nextByte() {
    return player.at < player.size ? player.data[player.at++] : 0;
}

// Reads the segment of one write into the waiting reads; false when the write fails.
bool loadSegment() {
    if (player.at >= player.size) return true;
    const uint8_t header = nextByte();
    if (header == kWriteFails) return false;
    for (int i = 0; i < header && player.at < player.size; ++i) {
        Entry entry{};
        const uint8_t length = nextByte();
        if (length == kReadTimesOut) {
            entry.result = 0;
        } else if (length > 64) {
            entry.result = -1;
        } else {
            const size_t take = std::min<size_t>(length, player.size - player.at);
            std::memcpy(entry.bytes, player.data + player.at, take);
            player.at += take;
            entry.result = length;
        }
        player.waiting.push_back(entry);
    }
    return true;
}

int playRead(void*, uint8_t* buffer, size_t length, int) {
    if (player.waiting.empty()) return 0;
    const Entry entry = player.waiting.front();
    player.waiting.pop_front();
    if (entry.result <= 0) return entry.result;
    const size_t n = std::min<size_t>(length, static_cast<size_t>(entry.result));
    std::memcpy(buffer, entry.bytes, n);
    return static_cast<int>(n);
}

const link::Transport kStreamTransport{
    "fuzz stream",
    [] { return 0; },
    [](std::vector<link::DeviceEntry>& out) {
        out.push_back({link::kModuleVendorId, link::kModuleProductId, "stream:0", {}});
        return 0;
    },
    [](uint16_t, uint16_t, const wchar_t*) -> void* { return &handleToken; },
    [](void*) {},
    [](void*, const uint8_t*, size_t length) {
        return loadSegment() ? static_cast<int>(length) : -1;
    },
    playRead};

// Recording: a list of items in the order they arose; a segment stays open for
// the reads that follow its write, also those of the next request's drain.
struct Item {
    bool choice;
    uint8_t value;  // the choice, or kWriteFails for a failed write
    std::vector<Entry> entries;
};

struct Recorder {
    link::Transport inner{};
    link::Transport transport{};  // the inner one with its writes and reads noted
    std::vector<Item> items;
};
Recorder recorder;

int recWrite(void* handle, const uint8_t* report, size_t length) {
    const int result = recorder.inner.write(handle, report, length);
    recorder.items.push_back(Item{false, static_cast<uint8_t>(result < 0 ? kWriteFails : 0), {}});
    return result;
}

int recRead(void* handle, uint8_t* buffer, size_t length, int timeoutMs) {
    const int result = recorder.inner.read(handle, buffer, length, timeoutMs);
    Item* segment = nullptr;
    for (auto it = recorder.items.rbegin(); it != recorder.items.rend(); ++it) {
        if (!it->choice) {
            segment = &*it;
            break;
        }
    }
    if (segment == nullptr || segment->value == kWriteFails) return result;
    Entry entry{};
    entry.result = result < 0 ? -1 : result;
    if (result > 0) std::memcpy(entry.bytes, buffer, std::min<size_t>(result, sizeof entry.bytes));
    segment->entries.push_back(entry);
    return result;
}

}  // namespace

void playStream(const uint8_t* data, size_t size) {
    player = Player{data, size, 0, {}};
}

bool streamExhausted() {
    return player.at >= player.size;
}

uint8_t choose() {
    return nextByte();
}

const link::Transport& streamTransport() {
    return kStreamTransport;
}

void startRecording(const link::Transport& inner) {
    recorder = Recorder{inner, inner, {}};
    recorder.transport.name = "fuzz recorder";
    recorder.transport.write = recWrite;
    recorder.transport.read = recRead;
}

uint8_t record(uint8_t choice) {
    recorder.items.push_back(Item{true, choice, {}});
    return choice;
}

std::vector<uint8_t> takeRecording() {
    std::vector<uint8_t> out;
    for (const Item& item : recorder.items) {
        if (item.choice || item.value == kWriteFails) {
            out.push_back(item.value);
            continue;
        }
        // Reads past the last data entry time out anyway; they need no bytes.
        size_t used = item.entries.size();
        while (used > 0 && item.entries[used - 1].result == 0) --used;
        used = std::min<size_t>(used, kWriteFails - 1);
        out.push_back(static_cast<uint8_t>(used));
        for (size_t i = 0; i < used; ++i) {
            const Entry& entry = item.entries[i];
            if (entry.result < 0) {
                out.push_back(kReadFails);
            } else {
                out.push_back(static_cast<uint8_t>(entry.result));
                out.insert(out.end(), entry.bytes, entry.bytes + entry.result);
            }
        }
    }
    recorder.items.clear();
    return out;
}

const link::Transport& recordingTransport() {
    return recorder.transport;
}

}  // namespace quillon::fuzz
