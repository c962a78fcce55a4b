// The column permutations the library decodes with when no table file is
// named. They are not part of the public interface, so this is the one place
// where the program reads the library's own data (compiled in from the
// library's source); everything measured goes through the public functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillon::cli {

// Orders of the table from 19 on, ascending.
std::vector<int> learnableOrders();

// The built-in list of `order`; empty when the table has no such order.
std::vector<int> libraryColumns(int order);

// Why the library will not decode with the file QUILLONLIB_HADAMARD_TABLE
// names (it then uses the built-in table and says so only in its log), read
// by the library's own rules: "'PATH' refused[, line N]: REASON"; nullopt
// when the variable is unset or the file is taken.
std::optional<std::string> hadamardTableRefusal();

}  // namespace quillon::cli
