#include "library_hadamard_table.h"

#include <cstdlib>

#include "spectrum/hadamard_permutations.h"
#include "spectrum/hadamard_table_file.h"

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

std::optional<std::string> hadamardTableRefusal() {
    const char* path = std::getenv("QUILLONLIB_HADAMARD_TABLE");
    if (path == nullptr || *path == '\0') return std::nullopt;
    HadamardColumns columns;
    int orders = 0;
    HadamardTableProblem problem;
    if (readHadamardTableFile(path, columns, orders, problem) == 0) return std::nullopt;
    std::string text = "'" + std::string(path) + "' refused";
    if (problem.line > 0) text += ", line " + std::to_string(problem.line);
    return text + ": " + problem.reason;
}

}  // namespace quillon::cli
