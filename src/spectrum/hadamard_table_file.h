// A text file of S-matrix column permutations that replaces the built-in lists
// of the orders it names, for modules whose matrices differ from them:
//
//   # comment
//   19: 9 7 18 5 11 2 0 8 17 1 4 15 16 3 14 6 13 10 12
//
// One line per order "p: columns[0] ... columns[p-1]", in the convention of
// the built-in lists (row i, column j lit exactly when (i - columns[j]) mod p
// is 0 or a nonzero square mod p). Orders not named keep the built-in list.
// A text is taken whole or not at all.
#pragma once

#include <string>
#include <string_view>

#include "spectrum/hadamard.h"

namespace quillon {

struct HadamardTableProblem {
    int line = 0;        // 1-based line of the fault; 0 for the text as a whole
    std::string reason;  // English, for the log
};

// 0 with the named orders' lists in `out` (other entries empty) and their
// number in `orderCount`; -1 when the text is refused, `out` then all empty
// and the reason in `problem`.
int parseHadamardTable(std::string_view text, HadamardColumns& out, int& orderCount,
                       HadamardTableProblem& problem);

// parseHadamardTable over the file at `path`; a file that cannot be read, or
// is larger than any table could be, is refused the same way.
int readHadamardTableFile(const char* path, HadamardColumns& out, int& orderCount,
                          HadamardTableProblem& problem);

// Whether `columns` (p entries, a permutation of 0..p-1) make a matrix with
// the properties of the stored ones: (p + 1) / 2 lit entries per row and
// column, any two rows sharing (p + 1) / 4, and (above order 3) rows that are
// not turns of one another. The reason is left in `reason` when not.
bool hadamardColumnsFormSMatrix(int p, const uint8_t* columns, std::string& reason);

}  // namespace quillon
