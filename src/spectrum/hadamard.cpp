#include "spectrum/hadamard.h"

#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "spectrum/hadamard_permutations.h"

namespace quillon {
namespace {

constexpr size_t kRowTableBytes = 558291;  // sum of p * p over the stored orders

struct OrderEntry {
    bool present = false;
    size_t packedOffset = 0;
    size_t packedSize = 0;
    size_t rowsOffset = 0;
};

// The decoding matrix of one order as +1 / -1 per entry (lit / dark), so a
// decode is a run of exact sign flips and adds that the compiler vectorises.
struct SignCache {
    std::once_flag once;
    std::unique_ptr<double[]> signs;
};

}  // namespace

// Packed and unpacked forms of every stored matrix, built from the column
// permutations: the built-in lists, each replaced by the caller's list of its
// order where one is given.
struct HadamardMatrixSet {
    std::array<OrderEntry, kMaxHadamardOrder + 1> entries{};
    uint8_t packed[kHadamardPackedTableBytes] = {};
    uint8_t rows[kRowTableBytes] = {};
    // Filled on first decode of each order; the matrices themselves never change.
    mutable std::array<SignCache, kMaxHadamardOrder + 1> signCaches;

    explicit HadamardMatrixSet(const HadamardColumns* replaced) {
        size_t packedAt = 0;
        size_t rowsAt = 0;
        for (const HadamardPermutation& perm : kHadamardPermutations) {
            const int p = perm.order;
            const uint8_t* columns = perm.columns;
            if (replaced && (*replaced)[p].size() == static_cast<size_t>(p))
                columns = (*replaced)[p].data();
            const SMatrixRule rule(p);
            OrderEntry& entry = entries[p];
            entry.present = true;
            entry.packedOffset = packedAt;
            entry.packedSize = (static_cast<size_t>(p) * p + 7) / 8;
            entry.rowsOffset = rowsAt;
            uint8_t* matrix = rows + rowsAt;
            uint8_t* bits = packed + packedAt;
            for (int i = 0; i < p; ++i) {
                for (int j = 0; j < p; ++j) {
                    const uint8_t lit = rule.lit(i, columns[j]) ? 1 : 0;
                    const size_t k = static_cast<size_t>(i) * p + j;
                    matrix[k] = lit;
                    bits[k / 8] |= static_cast<uint8_t>(lit << (k % 8));
                }
            }
            packedAt += entry.packedSize;
            rowsAt += static_cast<size_t>(p) * p;
        }
    }
};

namespace {

const HadamardMatrixSet& builtInSet() {
    static const HadamardMatrixSet instance(nullptr);
    return instance;
}

// The set this thread decodes with; null: the built-in one.
thread_local const HadamardMatrixSet* activeSet = nullptr;

const HadamardMatrixSet& table() {
    return activeSet != nullptr ? *activeSet : builtInSet();
}

int checkOrder(const HadamardMatrixSet& set, int order) {
    if (order < 0 || order > kMaxHadamardOrder) return -2;
    return set.entries[order].present ? 0 : -6;
}

int checkOrder(int order) {
    return checkOrder(table(), order);
}

const double* decodeSigns(const HadamardMatrixSet& set, int order) {
    SignCache& cache = set.signCaches[order];
    std::call_once(cache.once, [&] {
        const size_t n = static_cast<size_t>(order) * order;
        cache.signs.reset(new (std::nothrow) double[n]);
        if (!cache.signs) return;
        const uint8_t* m = set.rows + set.entries[order].rowsOffset;
        for (size_t k = 0; k < n; ++k) cache.signs[k] = m[k] ? 1.0 : -1.0;
    });
    return cache.signs.get();
}

}  // namespace

int hadamardPackedMatrix(int order, const uint8_t** bits, size_t* byteCount) {
    const int rc = checkOrder(order);
    if (rc != 0) return rc;
    const OrderEntry& entry = table().entries[order];
    if (bits) *bits = table().packed + entry.packedOffset;
    if (byteCount) *byteCount = entry.packedSize;
    return 0;
}

int hadamardUnpack(int order, double* out, size_t capacity) {
    const uint8_t* bits = nullptr;
    size_t bytes = 0;
    const int rc = hadamardPackedMatrix(order, &bits, &bytes);
    if (rc != 0) return rc;
    if (!out || capacity < bytes * 8) return -3;
    for (size_t b = 0; b < bytes; ++b) {
        for (int bit = 0; bit < 8; ++bit) out[b * 8 + bit] = ((bits[b] >> bit) & 1) ? 1.0 : 0.0;
    }
    return static_cast<int>(bytes * 8);
}

const uint8_t* hadamardMatrixRows(int order) {
    if (checkOrder(order) != 0) return nullptr;
    return table().rows + table().entries[order].rowsOffset;
}

int hadamardMatrixEntry(int order, int row, int col) {
    const int rc = checkOrder(order);
    if (rc != 0) return rc;
    if (row < 0 || row >= order || col < 0 || col >= order) return -2;
    return hadamardMatrixRows(order)[static_cast<size_t>(row) * order + col];
}

std::shared_ptr<const HadamardMatrixSet> buildHadamardMatrixSet(const HadamardColumns& columns) {
    return std::shared_ptr<const HadamardMatrixSet>(new (std::nothrow) HadamardMatrixSet(&columns));
}

const HadamardMatrixSet& builtInHadamardMatrixSet() {
    return builtInSet();
}

HadamardSetScope::HadamardSetScope(const HadamardMatrixSet* set) : previous_(activeSet) {
    activeSet = set;
}

HadamardSetScope::~HadamardSetScope() {
    activeSet = previous_;
}

int hadamardMeasure(int order, const double* x, double* y) {
    return hadamardMeasureWith(table(), order, x, y);
}

int hadamardMeasureWith(const HadamardMatrixSet& set, int order, const double* x, double* y) {
    const int rc = checkOrder(set, order);
    if (rc != 0) return rc;
    if (!x || !y) return -6;
    const uint8_t* m = set.rows + set.entries[order].rowsOffset;
    for (int i = 0; i < order; ++i) {
        const uint8_t* row = m + static_cast<size_t>(i) * order;
        double sum = 0.0;
        for (int j = 0; j < order; ++j) {
            if (row[j]) sum += x[j];
        }
        y[i] = sum;
    }
    return 0;
}

int hadamardDecode(int order, const double* y, double* z) {
    const int rc = checkOrder(order);
    if (rc != 0) return rc;
    if (!y || !z) return -6;
    const double* signs = decodeSigns(table(), order);
    if (!signs) return -3;
    // ((M - 0.5) / q) * y is +/- ((0.5 / q) * y) exactly, with the sign of the
    // entry; the products are formed once per reading and the sums keep the
    // increasing-i order for every column.
    const double q = static_cast<double>((order + 1) / 4);
    const double half = 0.5 / q;
    double w[kMaxHadamardOrder];
    for (int i = 0; i < order; ++i) w[i] = half * y[i];
    for (int j = 0; j < order; ++j) z[j] = 0.0;
    // Four readings per pass over z: each z[j] still takes its terms one after
    // another in increasing i, so the sums are the same doubles.
    int i = 0;
    for (; i + 4 <= order; i += 4) {
        const double* s0 = signs + static_cast<size_t>(i) * order;
        const double* s1 = s0 + order;
        const double* s2 = s1 + order;
        const double* s3 = s2 + order;
        const double w0 = w[i];
        const double w1 = w[i + 1];
        const double w2 = w[i + 2];
        const double w3 = w[i + 3];
        for (int j = 0; j < order; ++j) {
            double t = z[j];
            t += s0[j] * w0;
            t += s1[j] * w1;
            t += s2[j] * w2;
            t += s3[j] * w3;
            z[j] = t;
        }
    }
    for (; i < order; ++i) {
        const double* s = signs + static_cast<size_t>(i) * order;
        const double wi = w[i];
        for (int j = 0; j < order; ++j) z[j] += s[j] * wi;
    }
    return 0;
}

}  // namespace quillon
