// Which member of a Hadamard group each decoded value belongs to.
//
// A module measures a group of p members x with its own matrix S·P_m (S the
// quadratic-residue S-matrix, P_m its column permutation); the library decodes
// with S·P_l. With as many members as the order, the decoded values are then
// the members again, in another order: z[j] = x[sigma(j)]. A Column scan of
// the same patterns reads x directly. Matching the two finds sigma, and with
// the library's permutation pi_l the module's one: pi_m[sigma(j)] = pi_l[j].
//
// The matching takes no chances: z[j] and x[k] are compatible when they
// agree within the noise in every observation so far, and sigma is accepted
// only when the compatible pairs allow exactly one assignment. Members that
// read alike stay open until further observations tell them apart.
#pragma once

#include <cstdint>
#include <vector>

namespace quillon::cli {

// One configuration's readings of a group: the decoded values z and the
// Column values x (both means over repeated scans), and the largest
// difference between a decoded value and its own member that noise explains.
struct GroupObservation {
    std::vector<double> decoded;  // z, p values
    std::vector<double> column;   // x, p values
    double tolerance = 0.0;
};

class GroupMatcher {
  public:
    explicit GroupMatcher(int order);

    // Narrows the compatible pairs with one more observation.
    void add(const GroupObservation& observation);

    enum class Outcome {
        Unique,      // one assignment, in sigma()
        Ambiguous,   // several; ambiguousMembers() lists the decoded slots involved
        Impossible,  // none: some decoded value matches no member within the noise
    };
    Outcome solve();

    const std::vector<int>& sigma() const { return sigma_; }
    const std::vector<int>& ambiguousMembers() const { return ambiguous_; }
    int order() const { return order_; }

    // Root mean square and largest absolute difference between z[j] and
    // x[sigma(j)] over every observation added (after a Unique solve).
    double rmsResidual() const;
    double maxResidual() const;

  private:
    bool augment(int j, std::vector<char>& visited);
    void findAmbiguous();

    int order_;
    std::vector<char> compatible_;  // order x order, [j * order + k]
    std::vector<GroupObservation> observations_;
    std::vector<int> sigma_;     // decoded slot -> member
    std::vector<int> memberOf_;  // member -> decoded slot, -1 when free
    std::vector<int> ambiguous_;
};

// The module's permutation from the library's and sigma: result[sigma[j]] = library[j].
std::vector<int> modulePermutation(const std::vector<int>& library, const std::vector<int>& sigma);

// Mean of a series of scans of one value list, and the noise of that mean
// estimated from the scan-to-scan spread (0 with a single scan).
struct MeanAndNoise {
    std::vector<double> mean;
    double noise = 0.0;  // standard deviation of one mean value
};
MeanAndNoise meanOfScans(const std::vector<std::vector<double>>& scans);

}  // namespace quillon::cli
