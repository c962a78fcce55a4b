#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "spectrum/hadamard.h"

namespace quillon {
namespace {

bool isPrime(int n) {
    if (n < 2) return false;
    for (int d = 2; d * d <= n; ++d) {
        if (n % d == 0) return false;
    }
    return true;
}

std::vector<int> storedOrders() {
    std::vector<int> orders;
    for (int p = 0; p <= kMaxHadamardOrder; ++p) {
        if (hadamardPackedMatrix(p, nullptr, nullptr) == 0) orders.push_back(p);
    }
    return orders;
}

std::string rowText(int order, int row) {
    std::string text;
    for (int c = 0; c < order; ++c) text += hadamardMatrixEntry(order, row, c) ? '1' : '0';
    return text;
}

TEST(SpectrumHadamard, SmallOrdersAsPacked) {
    const uint8_t* bits = nullptr;
    size_t size = 0;
    ASSERT_EQ(hadamardPackedMatrix(3, &bits, &size), 0);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(bits[0], 0xAB);
    EXPECT_EQ(bits[1], 0x01);

    ASSERT_EQ(hadamardPackedMatrix(7, &bits, &size), 0);
    const uint8_t seven[] = {0x9D, 0xE5, 0xCC, 0x55, 0xB6, 0xE2, 0x01};
    ASSERT_EQ(size, sizeof seven);
    EXPECT_EQ(std::memcmp(bits, seven, size), 0);
    EXPECT_EQ(rowText(11, 0), "00111101100");
    EXPECT_EQ(rowText(11, 1), "01011001011");

    // Unpacking emits whole bytes: order 3 gives 16 values, the last 7 zero.
    double out[16];
    ASSERT_EQ(hadamardUnpack(3, out, 16), 16);
    EXPECT_EQ(std::vector<double>(out, out + 16),
              (std::vector<double>{1, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(hadamardUnpack(3, out, 15), -3);
    EXPECT_EQ(hadamardUnpack(5, out, 16), -6);
}

TEST(SpectrumHadamard, TableHoldsExactlyThePrimesThreeModFour) {
    const std::vector<int> orders = storedOrders();
    std::vector<int> expected;
    for (int p = 3; p <= 251; ++p) {
        if (p % 4 == 3 && isPrime(p)) expected.push_back(p);
    }
    EXPECT_EQ(orders, expected);
    EXPECT_EQ(orders.size(), 29u);
    size_t total = 0;
    for (int p : orders) {
        size_t size = 0;
        hadamardPackedMatrix(p, nullptr, &size);
        EXPECT_EQ(size, (static_cast<size_t>(p) * p + 7) / 8);
        total += size;
    }
    EXPECT_EQ(total, kHadamardPackedTableBytes);
    EXPECT_EQ(total, 69798u);

    EXPECT_EQ(hadamardPackedMatrix(13, nullptr, nullptr), -6);
    EXPECT_EQ(hadamardPackedMatrix(263, nullptr, nullptr), -2);
    double y[4];
    EXPECT_EQ(hadamardDecode(255, y, y), -2);
    EXPECT_EQ(hadamardMeasure(-1, y, y), -2);
    EXPECT_EQ(hadamardMatrixEntry(7, 7, 0), -2);
    EXPECT_EQ(hadamardMatrixEntry(7, 0, -1), -2);
    EXPECT_EQ(hadamardMatrixEntry(13, 0, 0), -6);
}

// Whether every row is the row before it turned by one fixed amount.
bool isCyclic(int p, const uint8_t* m) {
    for (int s = 1; s < p; ++s) {
        bool all = true;
        for (int i = 1; i < p && all; ++i) {
            for (int j = 0; j < p && all; ++j) {
                if (m[i * p + j] != m[(i - 1) * p + (j - s + p) % p]) all = false;
            }
        }
        if (all) return true;
    }
    return false;
}

TEST(SpectrumHadamard, EveryStoredMatrixIsAnSMatrix) {
    for (int p : storedOrders()) {
        SCOPED_TRACE(p);
        const uint8_t* m = hadamardMatrixRows(p);
        ASSERT_NE(m, nullptr);
        const uint8_t* bits = nullptr;
        size_t size = 0;
        hadamardPackedMatrix(p, &bits, &size);
        // Packed and unpacked forms agree; the spare bits are 0.
        for (size_t k = 0; k < size * 8; ++k) {
            const int bit = (bits[k / 8] >> (k % 8)) & 1;
            const int want = k < static_cast<size_t>(p) * p ? m[k] : 0;
            ASSERT_EQ(bit, want) << "bit " << k;
        }
        const int half = (p + 1) / 2;
        const int quarter = (p + 1) / 4;
        for (int i = 0; i < p; ++i) {
            int rowWeight = 0;
            int colWeight = 0;
            for (int j = 0; j < p; ++j) {
                rowWeight += m[i * p + j];
                colWeight += m[j * p + i];
            }
            ASSERT_EQ(rowWeight, half) << "row " << i;
            ASSERT_EQ(colWeight, half) << "column " << i;
        }
        // M Mt = q (I + J): two distinct rows share q lit columns.
        for (int a = 0; a < p; ++a) {
            for (int b = 0; b < p; ++b) {
                int shared = 0;
                for (int j = 0; j < p; ++j) shared += m[a * p + j] & m[b * p + j];
                ASSERT_EQ(shared, a == b ? 2 * quarter : quarter) << a << "," << b;
            }
        }
        // Three rows of weight 2 out of 3 columns cannot help being turns of
        // each other; every larger order must not be.
        if (p > 3) {
            EXPECT_FALSE(isCyclic(p, m));
        } else {
            EXPECT_TRUE(isCyclic(p, m));
        }
    }
}

// Decoding undoes measuring, and gives the very doubles that the inverse
// (M - 0.5) / q, summed in increasing i, gives (the decoder caches signs).
TEST(SpectrumHadamard, DecodeUndoesMeasureBitForBitWithTheInverse) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> counts(0, 1 << 20);
    for (int p : storedOrders()) {
        SCOPED_TRACE(p);
        std::vector<double> x(p), y(p), z(p);
        for (double& v : x) v = counts(rng) - 5000;
        ASSERT_EQ(hadamardMeasure(p, x.data(), y.data()), 0);
        // y[0] is the sum of the members that row 0 lights.
        double row0 = 0;
        for (int j = 0; j < p; ++j) row0 += hadamardMatrixEntry(p, 0, j) ? x[j] : 0.0;
        EXPECT_EQ(y[0], row0);
        ASSERT_EQ(hadamardDecode(p, y.data(), z.data()), 0);
        const double q = static_cast<double>((p + 1) / 4);
        for (int j = 0; j < p; ++j) {
            ASSERT_NEAR(z[j], x[j], 1e-6) << j;
            double sum = 0.0;
            for (int i = 0; i < p; ++i) sum += (hadamardMatrixEntry(p, i, j) - 0.5) / q * y[i];
            ASSERT_EQ(z[j], sum) << j;
        }
    }
}

}  // namespace
}  // namespace quillon
