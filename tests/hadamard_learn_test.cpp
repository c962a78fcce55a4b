// The matching behind `quillon hadamard learn`, against a group measured
// with one table and decoded with another, as on a module whose permutations
// differ from the library's.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "hadamard_matching.h"
#include "sim/module_variations.h"
#include "spectrum/hadamard.h"
#include "spectrum/hadamard_permutations.h"

namespace quillon {
namespace {

using cli::GroupMatcher;
using cli::GroupObservation;

constexpr int kOrder = 43;

// What the library decodes from a module measuring `x` with `module`.
std::vector<double> decodedByLibrary(const HadamardMatrixSet& module, std::vector<double> x) {
    std::vector<double> y(kOrder), z(kOrder);
    EXPECT_EQ(hadamardMeasureWith(module, kOrder, x.data(), y.data()), 0);
    EXPECT_EQ(hadamardDecode(kOrder, y.data(), z.data()), 0);
    return z;
}

TEST(HadamardLearn, MatchingFindsTheModulesPermutationAndNeverGuesses) {
    const HadamardColumns seeded = sim::seededHadamardColumns(9);
    const auto module = buildHadamardMatrixSet(seeded);
    ASSERT_TRUE(module);
    std::vector<double> x(kOrder);
    for (int k = 0; k < kOrder; ++k) x[static_cast<size_t>(k)] = 500.0 + 37.0 * k;
    const std::vector<double> z = decodedByLibrary(*module, x);

    std::vector<int> library;
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        if (perm.order == kOrder) library.assign(perm.columns, perm.columns + kOrder);
    }
    const std::vector<int> expected(seeded[kOrder].begin(), seeded[kOrder].end());

    // Members 5 and 9 reading alike cannot be told apart: exactly the two
    // slots that hold them are open.
    std::vector<double> alike = x;
    alike[9] = alike[5];
    GroupMatcher matcher(kOrder);
    matcher.add(GroupObservation{decodedByLibrary(*module, alike), alike, 1.0});
    ASSERT_EQ(matcher.solve(), GroupMatcher::Outcome::Ambiguous);
    std::vector<int> slotsOfAlike;
    for (int j = 0; j < kOrder; ++j) {
        if (std::abs(z[static_cast<size_t>(j)] - x[5]) < 1 ||
            std::abs(z[static_cast<size_t>(j)] - x[9]) < 1)
            slotsOfAlike.push_back(j);
    }
    EXPECT_EQ(matcher.ambiguousMembers(), slotsOfAlike);

    // A reading where they differ settles it; the module's list follows.
    matcher.add(GroupObservation{z, x, 1.0});
    ASSERT_EQ(matcher.solve(), GroupMatcher::Outcome::Unique);
    EXPECT_EQ(cli::modulePermutation(library, matcher.sigma()), expected);
    EXPECT_LT(matcher.maxResidual(), 1e-6);

    // A decoded value that fits no member within the noise.
    std::vector<double> off = z;
    off[3] += 10.0;
    GroupMatcher strict(kOrder);
    strict.add(GroupObservation{off, x, 1.0});
    EXPECT_EQ(strict.solve(), GroupMatcher::Outcome::Impossible);
}

TEST(HadamardLearn, MeanOfScansEstimatesTheNoiseOfTheMean) {
    const cli::MeanAndNoise m = cli::meanOfScans({{10, 20, 30, 40}, {12, 18, 32, 38}});
    EXPECT_EQ(m.mean, (std::vector<double>{11, 19, 31, 39}));
    // Spread 1 per value around the mean: sqrt(8 / (4 * 1)) per scan, / sqrt(2) for the mean.
    EXPECT_DOUBLE_EQ(m.noise, 1.0);
}

}  // namespace
}  // namespace quillon
