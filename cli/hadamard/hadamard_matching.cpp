#include "hadamard_matching.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace quillon::cli {

GroupMatcher::GroupMatcher(int order)
    : order_(order), compatible_(static_cast<size_t>(order) * order, 1) {}

void GroupMatcher::add(const GroupObservation& observation) {
    for (int j = 0; j < order_; ++j) {
        for (int k = 0; k < order_; ++k) {
            const double d = observation.decoded[static_cast<size_t>(j)] -
                             observation.column[static_cast<size_t>(k)];
            if (std::abs(d) > observation.tolerance)
                compatible_[static_cast<size_t>(j) * order_ + k] = 0;
        }
    }
    observations_.push_back(observation);
}

// Kuhn's augmenting path from decoded slot j.
bool GroupMatcher::augment(int j, std::vector<char>& visited) {
    for (int k = 0; k < order_; ++k) {
        if (!compatible_[static_cast<size_t>(j) * order_ + k] || visited[static_cast<size_t>(k)])
            continue;
        visited[static_cast<size_t>(k)] = 1;
        const int holder = memberOf_[static_cast<size_t>(k)];
        if (holder < 0 || augment(holder, visited)) {
            memberOf_[static_cast<size_t>(k)] = j;
            sigma_[static_cast<size_t>(j)] = k;
            return true;
        }
    }
    return false;
}

// A perfect matching is the only one exactly when no alternating cycle
// exists: slot j -> slot j' when j could take the member j' holds. The slots
// on cycles (strongly connected parts of more than one slot) are the open ones.
void GroupMatcher::findAmbiguous() {
    const int n = order_;
    std::vector<int> index(static_cast<size_t>(n), -1), low(static_cast<size_t>(n), 0);
    std::vector<char> onStack(static_cast<size_t>(n), 0);
    std::vector<int> stack;
    int counter = 0;
    ambiguous_.clear();
    std::function<void(int)> visit = [&](int v) {
        index[static_cast<size_t>(v)] = low[static_cast<size_t>(v)] = counter++;
        stack.push_back(v);
        onStack[static_cast<size_t>(v)] = 1;
        for (int k = 0; k < n; ++k) {
            const int w = memberOf_[static_cast<size_t>(k)];
            if (w == v || !compatible_[static_cast<size_t>(v) * n + k]) continue;
            if (index[static_cast<size_t>(w)] < 0) {
                visit(w);
                low[static_cast<size_t>(v)] =
                    std::min(low[static_cast<size_t>(v)], low[static_cast<size_t>(w)]);
            } else if (onStack[static_cast<size_t>(w)]) {
                low[static_cast<size_t>(v)] =
                    std::min(low[static_cast<size_t>(v)], index[static_cast<size_t>(w)]);
            }
        }
        if (low[static_cast<size_t>(v)] != index[static_cast<size_t>(v)]) return;
        std::vector<int> part;
        int w = -1;
        do {
            w = stack.back();
            stack.pop_back();
            onStack[static_cast<size_t>(w)] = 0;
            part.push_back(w);
        } while (w != v);
        if (part.size() > 1) ambiguous_.insert(ambiguous_.end(), part.begin(), part.end());
    };
    for (int v = 0; v < n; ++v) {
        if (index[static_cast<size_t>(v)] < 0) visit(v);
    }
    std::sort(ambiguous_.begin(), ambiguous_.end());
}

GroupMatcher::Outcome GroupMatcher::solve() {
    sigma_.assign(static_cast<size_t>(order_), -1);
    memberOf_.assign(static_cast<size_t>(order_), -1);
    ambiguous_.clear();
    for (int j = 0; j < order_; ++j) {
        std::vector<char> visited(static_cast<size_t>(order_), 0);
        if (!augment(j, visited)) return Outcome::Impossible;
    }
    findAmbiguous();
    return ambiguous_.empty() ? Outcome::Unique : Outcome::Ambiguous;
}

double GroupMatcher::rmsResidual() const {
    double sum = 0.0;
    size_t count = 0;
    for (const GroupObservation& o : observations_) {
        for (int j = 0; j < order_; ++j) {
            const double d = o.decoded[static_cast<size_t>(j)] -
                             o.column[static_cast<size_t>(sigma_[static_cast<size_t>(j)])];
            sum += d * d;
            ++count;
        }
    }
    return count ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

double GroupMatcher::maxResidual() const {
    double worst = 0.0;
    for (const GroupObservation& o : observations_) {
        for (int j = 0; j < order_; ++j) {
            worst = std::max(
                worst, std::abs(o.decoded[static_cast<size_t>(j)] -
                                o.column[static_cast<size_t>(sigma_[static_cast<size_t>(j)])]));
        }
    }
    return worst;
}

std::vector<int> modulePermutation(const std::vector<int>& library, const std::vector<int>& sigma) {
    std::vector<int> result(library.size(), -1);
    for (size_t j = 0; j < sigma.size(); ++j) result[static_cast<size_t>(sigma[j])] = library[j];
    return result;
}

MeanAndNoise meanOfScans(const std::vector<std::vector<double>>& scans) {
    MeanAndNoise out;
    if (scans.empty()) return out;
    const size_t n = scans.front().size();
    out.mean.assign(n, 0.0);
    for (const auto& scan : scans) {
        for (size_t i = 0; i < n; ++i) out.mean[i] += scan[i];
    }
    for (double& v : out.mean) v /= static_cast<double>(scans.size());
    if (scans.size() < 2 || n == 0) return out;
    double sum = 0.0;
    for (const auto& scan : scans) {
        for (size_t i = 0; i < n; ++i) sum += (scan[i] - out.mean[i]) * (scan[i] - out.mean[i]);
    }
    const double perScan = std::sqrt(sum / static_cast<double>(n * (scans.size() - 1)));
    out.noise = perScan / std::sqrt(static_cast<double>(scans.size()));
    return out;
}

}  // namespace quillon::cli
