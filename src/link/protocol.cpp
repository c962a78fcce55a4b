// Request messages go out as 65-byte output reports (report number 0, then 64
// message bytes; only the first report carries the header). Replies come back
// as input reports that are joined in the reply buffer until the length their
// header announces has arrived.
#include "link/protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/bytes.h"

namespace quillon::link {
namespace {

// The last report of a longest reply starts below 584 and must fit whole.
static_assert((kHeaderSize + kMaxReplyPayload - 1) / kReportSize * kReportSize + kReportSize <=
              kReplyBufferSize);

// Enough for the longest reply a header can announce (and a late one besides);
// a device that never stops sending cannot hold a request back for longer.
constexpr int kMaxStaleReports = 2 * ((0xFFFF + kHeaderSize) / kReportSize + 1);

uint16_t lengthField(const uint8_t* header) {
    return bytes::get16(header + 2);
}

bool writeReport(LinkState& link) {
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

bool adopt(LinkState& link, const HidLayer& hid, hid_device* handle, int* refusal) {
    if (refusal != nullptr) *refusal = handle == nullptr ? errno : 0;
    if (handle == nullptr) return false;
    link.hid = &hid;
    link.handle = handle;
    return true;
}

}  // namespace

// A reply that arrives after its request timed out must not pass for the answer
// to the next request: whatever input is already waiting is read and dropped.
void discardWaitingInput(LinkState& link) {
    if (link.handle == nullptr) return;
    uint8_t scratch[kReportSize];
    for (int i = 0; i < kMaxStaleReports; ++i) {
        if (link.hid->readTimeout(link.handle, scratch, sizeof scratch, 0) <= 0) return;
    }
}

bool openModule(LinkState& link, const HidLayer& hid, uint16_t vendorId, uint16_t productId,
                const wchar_t* serial, int* refusal) {
    if (link.handle != nullptr) return false;
    errno = 0;
    return adopt(link, hid, hid.open(vendorId, productId, serial), refusal);
}

bool openModulePath(LinkState& link, const HidLayer& hid, const char* path, int* refusal) {
    if (link.handle != nullptr || path == nullptr) return false;
    errno = 0;
    return adopt(link, hid, hid.openPath(path), refusal);
}

void closeModule(LinkState& link) {
    if (link.handle != nullptr) link.hid->close(link.handle);
    link.handle = nullptr;
    link.hid = nullptr;
}

bool moduleOpen(const LinkState& link) {
    return link.handle != nullptr;
}

void setReadTimeout(LinkState& link, int milliseconds) {
    link.readTimeoutMs = milliseconds;
}

void writeHeader(uint8_t* message, uint8_t flags, uint8_t sequence, uint16_t length,
                 CommandCode code) {
    message[0] = flags;
    message[1] = sequence;
    bytes::put16(message + 2, length);
    message[4] = code.number;
    message[5] = code.group;
}

uint8_t nextSequence(LinkState& link) {
    return link.sequence++;
}

int sendRequest(LinkState& link, const uint8_t* message, size_t messageCapacity) {
    if (link.handle == nullptr || message == nullptr || messageCapacity < kHeaderSize) {
        return kLinkNoModule;
    }
    const size_t length = lengthField(message);
    if (messageCapacity < kHeaderSize + length) return kLinkNoModule;
    discardWaitingInput(link);

    // Report r carries message bytes [64r, 64r + 64); the first one's header is
    // part of those bytes. Anything past what the caller gave is zero.
    const size_t total = kHeaderSize + length;
    size_t sent = 0;
    do {
        const size_t take =
            std::min<size_t>(kReportSize, messageCapacity - std::min(sent, messageCapacity));
        std::memset(link.report, 0, sizeof link.report);
        std::memcpy(link.report + 1, message + sent, take);
        if (!writeReport(link)) return kLinkNoModule;
        sent += kReportSize;
    } while (sent < total);
    // Counted as the protocol counts it: header plus body bytes the reports hold.
    return static_cast<int>(sent == kReportSize ? total : sent);
}

int readStatus(LinkState& link) {
    if (link.handle == nullptr) return kLinkNoModule;
    const int got = link.hid->readTimeout(link.handle, link.reply, kReportSize, link.readTimeoutMs);
    if (got < 0) return kLinkNoModule;
    if (got == 0) return kLinkTimeout;
    if (got < kHeaderSize) return kLinkFlag4;
    if (const int flagged = flagResult(link.reply[0])) return flagged;
    if (lengthField(link.reply) != 4) return 0;
    if (got < kHeaderSize + 4) return kLinkFlag4;  // a value announced but not delivered
    return static_cast<int>(bytes::get32(link.reply + kHeaderSize));
}

Reply exchange(LinkState& link, CommandCode code, std::span<const uint8_t> data) {
    if (link.handle == nullptr || data.size() > kMaxReadRequestData) return {kLinkNoModule, {}};
    discardWaitingInput(link);

    std::memset(link.report, 0, sizeof link.report);
    uint8_t* message = link.report + 1;
    writeHeader(message, kReadFlags, 0, static_cast<uint16_t>(2 + data.size()), code);
    if (!data.empty()) std::memcpy(message + 6, data.data(), data.size());
    if (!writeReport(link)) return {kLinkNoModule, {}};

    // Report k of the reply lands at offset 64k. A read may deliver fewer than
    // 64 bytes: only the bytes that arrived count, and a short report that
    // leaves the reply incomplete means bytes in its middle are lost.
    int received = link.hid->readTimeout(link.handle, link.reply, kReportSize, link.readTimeoutMs);
    if (received < 0) return {0, {}};
    if (received == 0) return {kLinkTimeout, {}};
    if (received < kHeaderSize) return {kLinkFlag4, {}};
    if (const int flagged = flagResult(link.reply[0])) return {flagged, {}};
    const size_t announced = lengthField(link.reply);
    if (announced == 0 || announced > kMaxReplyPayload) return {kLinkFlag4, {}};

    const size_t expected = kHeaderSize + announced;
    while (static_cast<size_t>(received) < expected) {
        if (received % kReportSize != 0) return {kLinkFlag4, {}};
        // received < expected <= 584, so a whole report still fits the buffer.
        const int got = link.hid->readTimeout(link.handle, link.reply + received, kReportSize,
                                              link.readTimeoutMs);
        if (got < 0) return {kLinkNoModule, {}};
        if (got == 0) return {kLinkTimeout, {}};
        received += got;
    }
    return {received, std::span<const uint8_t>(link.reply + kHeaderSize, announced)};
}

}  // namespace quillon::link
