#include "library_hadamard_table.h"

#include "spectrum/hadamard_permutations.h"

namespace quillon::cli {

std::vector<int> learnableOrders() {
    std::vector<int> orders;
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        if (perm.order >= 19) orders.push_back(perm.order);
    }
    return orders;
}

std::vector<int> libraryColumns(int order) {
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        if (perm.order == order) return std::vector<int>(perm.columns, perm.columns + order);
    }
    return {};
}

}  // namespace quillon::cli
