// Scan data interpretation of arbitrary images in the 3822-byte buffer the
// library reads scan data into.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "scenarios.h"
#include "serial/records.h"
#include "spectrum/interpret.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t used = size < kScanDataBufferSize ? size : kScanDataBufferSize;
    auto image = std::make_unique<uint8_t[]>(kScanDataBufferSize);
    std::memset(image.get(), 0, kScanDataBufferSize);
    if (used > 0) std::memcpy(image.get(), data, used);
    auto results = std::make_unique<ScanResults>();
    auto before = std::make_unique<ScanResults>();
    // A refused image leaves the caller's results as they were; an accepted
    // one never claims more points than the arrays hold.
    auto interpret = [&](const uint8_t* bytes, size_t length) {
        std::memset(results.get(), 0x5A, sizeof *results);
        std::memcpy(before.get(), results.get(), sizeof *results);
        if (interpretScanData(bytes, length, *results) == SpecStatus::Ok) {
            FUZZ_CHECK(results->length >= 0 && results->length <= kMaxSamples);
        } else {
            FUZZ_CHECK(std::memcmp(results.get(), before.get(), sizeof *results) == 0);
        }
    };
    interpret(image.get(), kScanDataBufferSize);
    // The same bytes in a buffer only as long as they are: nothing past them is read.
    if (used > 0) {
        auto exact = std::make_unique<uint8_t[]>(used);
        std::memcpy(exact.get(), data, used);
        interpret(exact.get(), used);
    }
    return 0;
}
