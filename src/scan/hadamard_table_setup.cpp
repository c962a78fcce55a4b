#include "scan/hadamard_table_setup.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "config/model.h"
#include "spectrum/hadamard_table_file.h"

namespace quillon {
namespace {

bool activeHasHadamardSection(const SpectrometerSession& session) {
    if (session.activeScanIndex < 0 ||
        static_cast<size_t>(session.activeScanIndex) >= session.scanConfigs.size())
        return false;
    const SectionList list =
        sectionsOf(session.scanConfigs[static_cast<size_t>(session.activeScanIndex)]);
    for (int s = 0; s < list.count; ++s) {
        if (list.sections[s].sectionScanType == 1) return true;
    }
    return false;
}

void loadNamedTable(SpectrometerSession& session, const char* path) {
    HadamardColumns columns;
    int orders = 0;
    HadamardTableProblem problem;
    std::string where = std::string("Hadamard table ") + path;
    if (readHadamardTableFile(path, columns, orders, problem) != 0) {
        if (problem.line > 0) where += ", line " + std::to_string(problem.line);
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR,
                    where + " refused: " + problem.reason + "; decoding with the built-in table");
        return;
    }
    auto set = buildHadamardMatrixSet(columns);
    if (!set) {
        QUILLON_LOG(session, "getFormattedSpectrum", LOG_ERROR,
                    where + " refused: out of memory; decoding with the built-in table");
        return;
    }
    useHadamardMatrixSet(std::move(set));
    QUILLON_LOG(session, "getFormattedSpectrum", INFO,
                where + ": " + std::to_string(orders) + " orders replace the built-in ones");
}

}  // namespace

void prepareHadamardTable(SpectrometerSession& session) {
    static std::once_flag once;
    if (!activeHasHadamardSection(session)) return;
    std::call_once(once, [&] {
        const char* path = std::getenv("QUILLONLIB_HADAMARD_TABLE");
        if (path != nullptr && *path != '\0') loadNamedTable(session, path);
    });
}

}  // namespace quillon
