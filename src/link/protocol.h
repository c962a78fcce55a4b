// Message framing over 64-byte HID reports: requests cut into reports with
// flags, sequence and length; replies put together again and their failure
// flags and time-outs turned into link result codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/hid_layer.h"

namespace quillon::link {

constexpr int kReportSize = 64;
constexpr int kHeaderSize = 4;
constexpr int kMaxReplyPayload = 580;
constexpr int kMaxReplyReports = 10;
constexpr int kReplyBufferSize = kMaxReplyReports * kReportSize;  // whole reports
constexpr int kDefaultReadTimeoutMs = 20000;
// The largest data part of a read request: it must fit the one report.
constexpr size_t kMaxReadRequestData = kReportSize - kHeaderSize - 2;

// Link result codes.
constexpr int kLinkNoModule = -1;  // no module, or a write/read failure
constexpr int kLinkFlag4 = -2;     // failure flag bit 4 (also: length 0, oversized, malformed)
constexpr int kLinkFlag5 = -3;     // failure flag bit 5
constexpr int kLinkTimeout = -4;

constexpr uint8_t kReadFlags = 0xC0;
constexpr uint8_t kWriteFlags = 0x40;

// Opens/closes the module through `hid`, which then carries every report
// until closing; the handle is process-wide. Opening fails while a module is open.
// When the HID layer refuses, `refusal` (if given) receives the errno its open
// left behind, 0 when it left none.
bool openModule(const HidLayer& hid, uint16_t vendorId, uint16_t productId, const wchar_t* serial,
                int* refusal = nullptr);
void closeModule();
bool moduleOpen();

void setReadTimeout(int milliseconds);
int readTimeout();

// Sends a whole request message (header + body) taken from the first
// `messageCapacity` bytes of `message`; report bytes beyond those are zero.
// Positive count of message bytes carried, or -1.
int sendRequest(const uint8_t* message, size_t messageCapacity);
// Reads the status reply of a write request. See the link result codes.
int readStatus();
// Sends a one-report read request (command code and data) and reads its reply.
// Positive number of reply bytes received, 0 when the first reply read failed,
// or a negative link code.
int exchange(uint8_t command, uint8_t group, const uint8_t* data, size_t dataLength);

// The last reply that exchange accepted: its payload and the payload length
// announced in its header (all of it arrived). Length 0 after a failure.
const uint8_t* replyPayload();
size_t replyPayloadLength();

// Next sequence number for a write request (advances the counter).
uint8_t nextSequence();

}  // namespace quillon::link
