// The S-matrix table: for every supported order p a p x p 0/1 matrix that says
// which members of a Hadamard group each of its p measurements lights, and the
// two directions through it: measuring (what the module reads) and decoding
// (what the library recovers from those readings).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quillon {

constexpr int kMaxHadamardOrder = 251;
constexpr size_t kHadamardPackedTableBytes = 69798;

// The quadratic-residue rule every stored matrix follows: row i, column j of
// the order-p matrix is lit when (i - shift[j]) mod p is 0 or a nonzero square
// mod p, shift being the column's entry in its permutation. One rule for the
// decoding tables and for the check of a loaded table file.
class SMatrixRule {
  public:
    explicit SMatrixRule(int p) : p_(p) {
        for (int k = 1; k < p; ++k) residue_[(k * k) % p] = true;
        residue_[0] = true;  // the diagonal of the unpermuted matrix is lit
    }
    bool lit(int row, int shift) const { return residue_[((row - shift) % p_ + p_) % p_]; }

  private:
    int p_;
    bool residue_[kMaxHadamardOrder] = {};
};

// Packed matrix of `order`: p*p bits row after row, bit k of the stream in bit
// k % 8 of byte k / 8. 0 on success; -2 when the order lies above 251 (or below
// 0); -6 when the table has no matrix of that order.
int hadamardPackedMatrix(int order, const uint8_t** bits, size_t* byteCount);

// Emits the packed bytes of `order` bit by bit (bit 0 first) as 0.0 or 1.0,
// including the unused high bits of the last byte. `capacity` values fit in
// `out`; returns the number written (a multiple of 8), or -2, -6, or -3 when
// they do not fit (nothing written).
int hadamardUnpack(int order, double* out, size_t capacity);

// The matrix as p*p bytes of 0 or 1, row after row; nullptr for an order that
// has no matrix.
const uint8_t* hadamardMatrixRows(int order);

// One entry: 0 or 1, or -2 / -6 as above (-2 also for a row or column outside
// 0..p-1).
int hadamardMatrixEntry(int order, int row, int col);

// What the module reads for one group: y[i] = sum over j of M[i][j] * x[j],
// in increasing j. x and y hold p values (members beyond the group's count are
// 0 in x). 0, -2 or -6.
int hadamardMeasure(int order, const double* x, double* y);

// Recovers the members from the readings: z[j] = sum over i, in increasing i,
// of ((M[i][j] - 0.5) / q) * y[i] with q = (p + 1) / 4. The inverse is kept per
// order after its first use. 0, -2, -6, or -3 when it cannot be kept.
int hadamardDecode(int order, const double* y, double* z);

// Column permutations by order; an empty entry keeps the built-in list of its
// order. A list must be a checked permutation of 0..p-1 of a stored order.
using HadamardColumns = std::array<std::vector<uint8_t>, kMaxHadamardOrder + 1>;

// A whole table of S-matrices built from such permutations (opaque).
struct HadamardMatrixSet;

// nullptr when the memory for it cannot be obtained.
std::shared_ptr<const HadamardMatrixSet> buildHadamardMatrixSet(const HadamardColumns& columns);
const HadamardMatrixSet& builtInHadamardMatrixSet();

// The table that the functions above work with on the calling thread while
// the scope lives (nullptr: the built-in table), so each module's scans are
// decoded with its own table. The set must outlive the scope.
class HadamardSetScope {
  public:
    explicit HadamardSetScope(const HadamardMatrixSet* set);
    ~HadamardSetScope();
    HadamardSetScope(const HadamardSetScope&) = delete;
    HadamardSetScope& operator=(const HadamardSetScope&) = delete;

  private:
    const HadamardMatrixSet* previous_;
};

// hadamardMeasure with a given table rather than the one in use.
int hadamardMeasureWith(const HadamardMatrixSet& set, int order, const double* x, double* y);

}  // namespace quillon
