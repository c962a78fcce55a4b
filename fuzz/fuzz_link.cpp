// The link's reply reassembly and every command's reply decoding, with the
// module played by the input: choice bytes pick the commands, segments give
// what each read returns.
#include <cstddef>
#include <cstdint>

#include "link/command_codes.h"
#include "link/protocol.h"
#include "reply_stream.h"
#include "scenarios.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr int kMaxSteps = 64;
    link::closeModule(fuzz::fuzzLink());
    fuzz::playStream(data, size);
    FUZZ_CHECK(link::openModule(fuzz::fuzzLink(), fuzz::streamLayer(), link::kModuleVendorId,
                                link::kModuleProductId, nullptr));
    for (int step = 0; step < kMaxSteps && !fuzz::streamExhausted(); ++step)
        fuzz::runLinkStep(fuzz::choose());
    link::closeModule(fuzz::fuzzLink());
    return 0;
}
