// The state of one module's link: the HID layer and handle its reports go
// through, the sequence counter, the report and reply buffers and the read
// time-out. Each open module has its own; the link functions work on it.
#pragma once

#include <hidapi/hidapi.h>

#include <cstdint>

namespace quillon::link {

struct HidLayer;

constexpr int kReportSize = 64;
constexpr int kHeaderSize = 4;
constexpr int kMaxReplyPayload = 580;
constexpr int kMaxReplyReports = 10;
constexpr int kReplyBufferSize = kMaxReplyReports * kReportSize;  // whole reports
constexpr int kDefaultReadTimeoutMs = 20000;

struct LinkState {
    const HidLayer* hid = nullptr;  // the one that opened `handle`
    hid_device* handle = nullptr;
    uint8_t sequence = 0;  // never reset, wraps 255 -> 0
    int readTimeoutMs = kDefaultReadTimeoutMs;
    uint8_t report[1 + kReportSize] = {};
    uint8_t reply[kReplyBufferSize] = {};
};

}  // namespace quillon::link
