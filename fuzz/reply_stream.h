// The module's side of the link as a byte stream, so a fuzzer's input can play
// the module. The stream holds, in the order they are used, the script's own
// choices (single bytes) and one segment per output report the library writes.
// A segment lists what the reads after that write return:
//
//   segment := header entry*
//   header  := 0xFF (the write fails, no entries) | n (0..254 entries follow)
//   entry   := len (1..64) byte{len}   a report read of len bytes
//            | 0                        the read times out
//            | 65..255                  the read fails (device gone)
//
// Reads beyond the entries time out. A segment's entries that the library does
// not read wait for later reads, as a module's late reply would. Running out
// of input makes every later write succeed with no reply, and every choice 0.
//
// The recording HID layer writes the same format from a real (simulated)
// module, which is how the seed corpora are made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/hid_layer.h"

namespace quillon::fuzz {

constexpr uint8_t kWriteFails = 0xFF;
constexpr uint8_t kReadTimesOut = 0;
constexpr uint8_t kReadFails = 0x80;

// Playing back: the stream's HID layer serves the input.
void playStream(const uint8_t* data, size_t size);
bool streamExhausted();
// The next choice byte of the script (0 once the input is used up).
uint8_t choose();
const link::HidLayer& streamLayer();

// Recording: the recording layer forwards to `inner` and notes every write and
// read; record() notes a choice. takeRecording() returns the stream.
void startRecording(const link::HidLayer& inner);
uint8_t record(uint8_t choice);
std::vector<uint8_t> takeRecording();
const link::HidLayer& recordingLayer();

}  // namespace quillon::fuzz
