// Opening a module whose every reply comes from the input: configuration
// retrieval, the queries on what was read, and saving an edit back.
#include <cstddef>
#include <cstdint>

#include "reply_stream.h"
#include "scenarios.h"

using namespace quillon;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::playStream(data, size);
    fuzz::runOpenScenario(fuzz::streamLayer());
    return 0;
}
