#include "spectrum/hadamard_table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "spectrum/hadamard.h"
#include "spectrum/hadamard_permutations.h"

namespace quillon {
namespace {

// The longest sensible table: every order's numbers plus generous comments.
constexpr size_t kMaxTableFileBytes = 1 << 20;

using Row = std::bitset<kMaxHadamardOrder>;

bool isStoredOrder(long p) {
    for (const HadamardPermutation& perm : kHadamardPermutations) {
        if (perm.order == p) return true;
    }
    return false;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads an unsigned decimal number at `at`; numbers beyond 100000 saturate
// there, which every check below refuses as out of range.
bool readNumber(std::string_view line, size_t& at, long& value) {
    if (at >= line.size() || !isDigit(line[at])) return false;
    value = 0;
    while (at < line.size() && isDigit(line[at])) {
        if (value < 100000) value = value * 10 + (line[at] - '0');
        ++at;
    }
    return true;
}

void skipBlanks(std::string_view line, size_t& at) {
    while (at < line.size() && isBlank(line[at])) ++at;
}

std::string text(const char* format, long a, long b = 0, long c = 0) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, a, b, c);
    return buffer;
}

// One line without its comment, known not to be blank. Fills `columns` of
// order `order`; false with the reason otherwise.
bool parseLine(std::string_view line, long& order, std::vector<uint8_t>& columns,
               std::string& reason) {
    size_t at = 0;
    skipBlanks(line, at);
    if (!readNumber(line, at, order)) {
        reason = "not an order line (\"p: numbers\")";
        return false;
    }
    skipBlanks(line, at);
    if (at >= line.size() || line[at] != ':') {
        reason = "no ':' after the order";
        return false;
    }
    ++at;
    if (!isStoredOrder(order)) {
        reason =
            text("order %ld has no S-matrix (orders are the primes 3 mod 4 from 3 to 251)", order);
        return false;
    }
    std::vector<bool> seen(static_cast<size_t>(order), false);
    columns.clear();
    for (;;) {
        skipBlanks(line, at);
        if (at >= line.size()) break;
        long value = 0;
        if (!readNumber(line, at, value) || (at < line.size() && !isBlank(line[at]))) {
            reason = "a column is not a whole number";
            return false;
        }
        if (static_cast<long>(columns.size()) >= order) {
            reason = text("more than %ld columns for order %ld", order, order);
            return false;
        }
        if (value >= order) {
            reason = text("column %ld is outside 0..%ld", value, order - 1);
            return false;
        }
        if (seen[static_cast<size_t>(value)]) {
            reason = text("column %ld appears twice: not a permutation", value);
            return false;
        }
        seen[static_cast<size_t>(value)] = true;
        columns.push_back(static_cast<uint8_t>(value));
    }
    if (static_cast<long>(columns.size()) < order) {
        reason = text("cut short: %ld of %ld columns", static_cast<long>(columns.size()), order);
        return false;
    }
    return true;
}

}  // namespace

bool hadamardColumnsFormSMatrix(int p, const uint8_t* columns, std::string& reason) {
    const SMatrixRule rule(p);
    auto rows = std::make_unique<Row[]>(static_cast<size_t>(p));
    std::vector<int> columnWeight(static_cast<size_t>(p), 0);
    for (int i = 0; i < p; ++i) {
        for (int j = 0; j < p; ++j) {
            if (rule.lit(i, columns[j])) {
                rows[i].set(static_cast<size_t>(j));
                ++columnWeight[static_cast<size_t>(j)];
            }
        }
    }
    const size_t half = static_cast<size_t>(p + 1) / 2;
    const size_t quarter = static_cast<size_t>(p + 1) / 4;
    for (int i = 0; i < p; ++i) {
        if (rows[i].count() != half ||
            columnWeight[static_cast<size_t>(i)] != static_cast<int>(half)) {
            reason = text("order %ld: row or column %ld does not light %ld members", p, i,
                          static_cast<long>(half));
            return false;
        }
        for (int k = i + 1; k < p; ++k) {
            if ((rows[i] & rows[k]).count() != quarter) {
                reason =
                    text("order %ld: rows %ld and %ld do not share (p + 1) / 4 members", p, i, k);
                return false;
            }
        }
    }
    if (p <= 3) return true;
    // Rows that are each the row before turned by one amount s.
    for (int s = 1; s < p; ++s) {
        bool turned = true;
        for (int i = 1; i < p && turned; ++i) {
            for (int j = 0; j < p && turned; ++j) {
                turned = rows[i][static_cast<size_t>(j)] ==
                         rows[i - 1][static_cast<size_t>((j - s + p) % p)];
            }
        }
        if (turned) {
            reason = text("order %ld: the rows are turns of one another (a cyclic matrix)", p);
            return false;
        }
    }
    return true;
}

int parseHadamardTable(std::string_view input, HadamardColumns& out, int& orderCount,
                       HadamardTableProblem& problem) {
    HadamardColumns parsed;
    int count = 0;
    int lineNumber = 0;
    const auto refuse = [&](int line, std::string reason) {
        for (auto& list : out) list.clear();
        orderCount = 0;
        problem.line = line;
        problem.reason = std::move(reason);
        return -1;
    };
    size_t begin = 0;
    while (begin < input.size()) {
        size_t end = input.find('\n', begin);
        if (end == std::string_view::npos) end = input.size();
        std::string_view line = input.substr(begin, end - begin);
        begin = end + 1;
        ++lineNumber;
        const size_t hash = line.find('#');
        if (hash != std::string_view::npos) line = line.substr(0, hash);
        size_t at = 0;
        skipBlanks(line, at);
        if (at == line.size()) continue;
        long order = 0;
        std::vector<uint8_t> columns;
        std::string reason;
        if (!parseLine(line, order, columns, reason)) return refuse(lineNumber, reason);
        if (!parsed[static_cast<size_t>(order)].empty())
            return refuse(lineNumber, text("order %ld is named twice", order));
        if (!hadamardColumnsFormSMatrix(static_cast<int>(order), columns.data(), reason))
            return refuse(lineNumber, reason);
        parsed[static_cast<size_t>(order)] = std::move(columns);
        ++count;
    }
    if (count == 0) return refuse(0, "the table names no order");
    out = std::move(parsed);
    orderCount = count;
    return 0;
}

int readHadamardTableFile(const char* path, HadamardColumns& out, int& orderCount,
                          HadamardTableProblem& problem) {
    const char* refusal = nullptr;
    std::string content;
    // Opening never waits: a FIFO or a device named here must not hold the scan.
    const int fd = path ? open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    struct stat info {};
    if (fd < 0) {
        refusal = errno == ENOENT ? "no such file" : "the file cannot be opened";
    } else if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        refusal = "not a regular file";
    } else {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) {
            content.append(buffer, static_cast<size_t>(got));
            if (content.size() > kMaxTableFileBytes) {
                refusal = "the file is larger than any table";
                break;
            }
        }
        if (got < 0) refusal = "the file cannot be read";
    }
    if (fd >= 0) close(fd);
    if (refusal != nullptr) {
        for (auto& list : out) list.clear();
        orderCount = 0;
        problem.line = 0;
        problem.reason = refusal;
        return -1;
    }
    return parseHadamardTable(content, out, orderCount, problem);
}

}  // namespace quillon
