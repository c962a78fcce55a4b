#include "reply_stream.h"

#include <algorithm>
#include <cstdlib>
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

int playRead(hid_device*, unsigned char* buffer, size_t length, int) {
    if (player.waiting.empty()) return 0;
    const Entry entry = player.waiting.front();
    player.waiting.pop_front();
    if (entry.result <= 0) return entry.result;
    const size_t n = std::min<size_t>(length, static_cast<size_t>(entry.result));
    std::memcpy(buffer, entry.bytes, n);
    return static_cast<int>(n);
}

// The one module the stream plays.
hid_device_info* listModule(unsigned short, unsigned short) {
    auto* info = static_cast<hid_device_info*>(std::calloc(1, sizeof(hid_device_info)));
    if (info == nullptr) return nullptr;
    info->vendor_id = link::kModuleVendorId;
    info->product_id = link::kModuleProductId;
    return info;
}

const link::HidLayer kStreamLayer{
    [] { return 0; },
    listModule,
    [](hid_device_info* list) { std::free(list); },
    [](unsigned short, unsigned short, const wchar_t*) {
        return reinterpret_cast<hid_device*>(&handleToken);
    },
    [](const char*) { return reinterpret_cast<hid_device*>(&handleToken); },
    [](hid_device*, const unsigned char*, size_t length) {
        return loadSegment() ? static_cast<int>(length) : -1;
    },
    playRead,
    [](hid_device*) {}};

// Recording: a list of items in the order they arose; a segment stays open for
// the reads that follow its write, also those of the next request's drain.
struct Item {
    bool choice;
    uint8_t value;  // the choice, or kWriteFails for a failed write
    std::vector<Entry> entries;
};

struct Recorder {
    link::HidLayer inner{};
    link::HidLayer layer{};  // the inner one with its writes and reads noted
    std::vector<Item> items;
};
Recorder recorder;

int recWrite(hid_device* handle, const unsigned char* report, size_t length) {
    const int result = recorder.inner.write(handle, report, length);
    recorder.items.push_back(Item{false, static_cast<uint8_t>(result < 0 ? kWriteFails : 0), {}});
    return result;
}

int recRead(hid_device* handle, unsigned char* buffer, size_t length, int timeoutMs) {
    const int result = recorder.inner.readTimeout(handle, buffer, length, timeoutMs);
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

const link::HidLayer& streamLayer() {
    return kStreamLayer;
}

void startRecording(const link::HidLayer& inner) {
    recorder = Recorder{inner, inner, {}};
    recorder.layer.write = recWrite;
    recorder.layer.readTimeout = recRead;
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

const link::HidLayer& recordingLayer() {
    return recorder.layer;
}

}  // namespace quillon::fuzz
