// Request messages go out as 65-byte output reports (report number 0, then 64
// message bytes; only the first report carries the header). Replies come back
// as input reports that are joined in the reply buffer until the length their
// header announces has arrived.
#include "link/protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillon::link {
namespace {

struct LinkState {
    const HidLayer* hid = nullptr;  // the one that opened `handle`
    hid_device* handle = nullptr;
    uint8_t sequence = 0;  // never reset, wraps 255 -> 0
    int readTimeoutMs = kDefaultReadTimeoutMs;
    uint8_t report[1 + kReportSize] = {};
    uint8_t reply[kReplyBufferSize] = {};
    size_t replyLength = 0;  // payload length of the last accepted reply
};

LinkState link;

// The last report of a longest reply starts below 584 and must fit whole.
static_assert((kHeaderSize + kMaxReplyPayload - 1) / kReportSize * kReportSize + kReportSize <=
              kReplyBufferSize);

// Enough for the longest reply a header can announce (and a late one besides);
// a device that never stops sending cannot hold a request back for longer.
constexpr int kMaxStaleReports = 2 * ((0xFFFF + kHeaderSize) / kReportSize + 1);

uint16_t lengthField(const uint8_t* header) {
    return static_cast<uint16_t>(header[2] | (header[3] << 8));
}

// A reply that arrives after its request timed out must not pass for the answer
// to the next request: whatever input is already waiting is read and dropped.
void discardWaitingInput() {
    uint8_t scratch[kReportSize];
    for (int i = 0; i < kMaxStaleReports; ++i) {
        if (link.hid->readTimeout(link.handle, scratch, sizeof scratch, 0) <= 0) return;
    }
}

bool writeReport() {
    return link.hid->write(link.handle, link.report, sizeof link.report) >= 0;
}

// Result of the module's two failure flags, or 0 when the reply is usable.
int flagResult(uint8_t flags) {
    switch ((flags >> 4) & 3) {
        case 1:
            return kLinkFlag4;
        case 2:
            return kLinkFlag5;
        default:
            return 0;
    }
}

}  // namespace

bool openModule(const HidLayer& hid, uint16_t vendorId, uint16_t productId, const wchar_t* serial,
                int* refusal) {
    if (link.handle != nullptr) return false;
    errno = 0;
    hid_device* handle = hid.open(vendorId, productId, serial);
    if (refusal != nullptr) *refusal = handle == nullptr ? errno : 0;
    if (handle == nullptr) return false;
    link.hid = &hid;
    link.handle = handle;
    return true;
}

void closeModule() {
    if (link.handle != nullptr) link.hid->close(link.handle);
    link.handle = nullptr;
    link.hid = nullptr;
    link.replyLength = 0;
}

bool moduleOpen() {
    return link.handle != nullptr;
}

void setReadTimeout(int milliseconds) {
    link.readTimeoutMs = milliseconds;
}
int readTimeout() {
    return link.readTimeoutMs;
}

uint8_t nextSequence() {
    return link.sequence++;
}

int sendRequest(const uint8_t* message, size_t messageCapacity) {
    if (link.handle == nullptr || message == nullptr || messageCapacity < kHeaderSize) {
        return kLinkNoModule;
    }
    const size_t length = lengthField(message);
    if (messageCapacity < kHeaderSize + length) return kLinkNoModule;
    discardWaitingInput();

    // Report r carries message bytes [64r, 64r + 64); the first one's header is
    // part of those bytes. Anything past what the caller gave is zero.
    const size_t total = kHeaderSize + length;
    size_t sent = 0;
    do {
        const size_t take =
            std::min<size_t>(kReportSize, messageCapacity - std::min(sent, messageCapacity));
        std::memset(link.report, 0, sizeof link.report);
        std::memcpy(link.report + 1, message + sent, take);
        if (!writeReport()) return kLinkNoModule;
        sent += kReportSize;
    } while (sent < total);
    // Counted as the protocol counts it: header plus body bytes the reports hold.
    return static_cast<int>(sent == kReportSize ? total : sent);
}

int readStatus() {
    link.replyLength = 0;
    if (link.handle == nullptr) return kLinkNoModule;
    const int got = link.hid->readTimeout(link.handle, link.reply, kReportSize, link.readTimeoutMs);
    if (got < 0) return kLinkNoModule;
    if (got == 0) return kLinkTimeout;
    if (got < kHeaderSize) return kLinkFlag4;
    if (const int flagged = flagResult(link.reply[0])) return flagged;
    if (lengthField(link.reply) != 4) return 0;
    if (got < kHeaderSize + 4) return kLinkFlag4;  // a value announced but not delivered
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | link.reply[kHeaderSize + i];
    return static_cast<int>(value);
}

int exchange(uint8_t command, uint8_t group, const uint8_t* data, size_t dataLength) {
    link.replyLength = 0;
    if (link.handle == nullptr || dataLength > kMaxReadRequestData ||
        (dataLength > 0 && data == nullptr)) {
        return kLinkNoModule;
    }
    discardWaitingInput();

    std::memset(link.report, 0, sizeof link.report);
    uint8_t* message = link.report + 1;
    const size_t length = 2 + dataLength;
    message[0] = kReadFlags;
    message[1] = 0;
    message[2] = static_cast<uint8_t>(length & 0xFF);
    message[3] = static_cast<uint8_t>(length >> 8);
    message[4] = command;
    message[5] = group;
    if (dataLength > 0) std::memcpy(message + 6, data, dataLength);
    if (!writeReport()) return kLinkNoModule;

    // Report k of the reply lands at offset 64k. A read may deliver fewer than
    // 64 bytes: only the bytes that arrived count, and a short report that
    // leaves the reply incomplete means bytes in its middle are lost.
    int received = link.hid->readTimeout(link.handle, link.reply, kReportSize, link.readTimeoutMs);
    if (received < 0) return 0;
    if (received == 0) return kLinkTimeout;
    if (received < kHeaderSize) return kLinkFlag4;
    if (const int flagged = flagResult(link.reply[0])) return flagged;
    const size_t announced = lengthField(link.reply);
    if (announced == 0 || announced > kMaxReplyPayload) return kLinkFlag4;

    const size_t expected = kHeaderSize + announced;
    while (static_cast<size_t>(received) < expected) {
        if (received % kReportSize != 0) return kLinkFlag4;
        // received < expected <= 584, so a whole report still fits the buffer.
        const int got = link.hid->readTimeout(link.handle, link.reply + received, kReportSize,
                                              link.readTimeoutMs);
        if (got < 0) return kLinkNoModule;
        if (got == 0) return kLinkTimeout;
        received += got;
    }
    link.replyLength = announced;
    return received;
}

const uint8_t* replyPayload() {
    return link.reply + kHeaderSize;
}
size_t replyPayloadLength() {
    return link.replyLength;
}

}  // namespace quillon::link
