// Message framing over 64-byte HID reports: requests cut into reports with
// flags, sequence and length; replies put together again and their failure
// flags and time-outs turned into link result codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/link_state.h"
#include "link/command_codes.h"
#include "link/hid_layer.h"

namespace quillon::link {

// The largest data part of a read request: it must fit the one report.
constexpr size_t kMaxReadRequestData = kReportSize - kHeaderSize - 2;

// Link result codes.
constexpr int kLinkNoModule = -1;  // no module, or a write/read failure
constexpr int kLinkFlag4 = -2;     // failure flag bit 4 (also: length 0, oversized, malformed)
constexpr int kLinkFlag5 = -3;     // failure flag bit 5
constexpr int kLinkTimeout = -4;

constexpr uint8_t kReadFlags = 0xC0;
constexpr uint8_t kWriteFlags = 0x40;

// Opens/closes a module on `link` through `hid`, which then carries every
// report until closing. Opening fails while `link` has a module open. When the
// HID layer refuses, `refusal` (if given) receives the errno its open left
// behind, 0 when it left none. openModulePath opens the device at `path`.
bool openModule(LinkState& link, const HidLayer& hid, uint16_t vendorId, uint16_t productId,
                const wchar_t* serial, int* refusal = nullptr);
bool openModulePath(LinkState& link, const HidLayer& hid, const char* path, int* refusal = nullptr);
void closeModule(LinkState& link);
bool moduleOpen(const LinkState& link);

void setReadTimeout(LinkState& link, int milliseconds);

// Writes a request header into message bytes 0..5: flags, sequence, the
// length field (little-endian) and the command code.
void writeHeader(uint8_t* message, uint8_t flags, uint8_t sequence, uint16_t length,
                 CommandCode code);

// Sends a whole request message (header + body) taken from the first
// `messageCapacity` bytes of `message`; report bytes beyond those are zero.
// Positive count of message bytes carried, or -1.
int sendRequest(LinkState& link, const uint8_t* message, size_t messageCapacity);
// Reads the status reply of a write request. See the link result codes.
int readStatus(LinkState& link);
// A read request's answer. `result`: positive number of reply bytes received,
// 0 when the first reply read failed, or a negative link code. `payload`: the
// length its header announced (all of it arrived), empty unless `result` is
// positive; it stays valid until the next request.
struct Reply {
    int result;
    std::span<const uint8_t> payload;
};

// Sends a one-report read request (command code and data) and reads its reply.
Reply exchange(LinkState& link, CommandCode code, std::span<const uint8_t> data = {});

// Reads and drops whatever input is already waiting (a late reply).
void discardWaitingInput(LinkState& link);

// Next sequence number for a write request (advances the counter).
uint8_t nextSequence(LinkState& link);

}  // namespace quillon::link
