#include "sim/module_variations.h"

#include <cstdlib>
#include <numeric>
#include <random>
#include <string>

#include "spectrum/hadamard_permutations.h"
#include "spectrum/hadamard_table_file.h"

namespace quillon::sim {
namespace {

bool parseNumber(const char* text, double low, double high, double& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= low && value <= high;
}

}  // namespace

HadamardColumns seededHadamardColumns(uint32_t seed) {
    HadamardColumns columns;
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        const int p = perm.order;
        if (p < 19) continue;
        // Fisher-Yates with the engine's raw output, so every platform draws
        // the same lists for a seed.
        std::mt19937 random(seed * 1009u + static_cast<uint32_t>(p));
        std::vector<uint8_t>& list = columns[static_cast<size_t>(p)];
        std::string reason;
        do {
            list.resize(static_cast<size_t>(p));
            std::iota(list.begin(), list.end(), uint8_t{0});
            for (int i = p - 1; i > 0; --i)
                std::swap(list[static_cast<size_t>(i)],
                          list[random() % static_cast<uint32_t>(i + 1)]);
        } while (!hadamardColumnsFormSMatrix(p, list.data(), reason));
    }
    return columns;
}

SyntheticOptions syntheticOptionsFromEnvironment() {
    SyntheticOptions options;
    double value = 0.0;
    if (parseNumber(std::getenv("QUILLONLIB_SIMULATOR_HADAMARD_SEED"), 0.0, 4294967295.0, value))
        options.matrices =
            buildHadamardMatrixSet(seededHadamardColumns(static_cast<uint32_t>(value)));
    if (parseNumber(std::getenv("QUILLONLIB_SIMULATOR_NOISE"), 0.0, 1e6, value))
        options.noiseSigma = value;
    return options;
}

}  // namespace quillon::sim
