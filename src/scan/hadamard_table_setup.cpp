#include "scan/hadamard_table_setup.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "config/model.h"
#include "spectrum/hadamard_table_file.h"

namespace quillon {
namespace {

bool activeHasHadamardSection(const Module& module) {
    if (module.activeScanIndex < 0 ||
        static_cast<size_t>(module.activeScanIndex) >= module.scanConfigs.size())
        return false;
    const SectionList list =
        sectionsOf(module.scanConfigs[static_cast<size_t>(module.activeScanIndex)]);
    for (int s = 0; s < list.count; ++s) {
        if (list.sections[s].sectionScanType == 1) return true;
    }
    return false;
}

// The table named for this process; null while it is the built-in one.
std::shared_ptr<const HadamardMatrixSet> g_namedTable;

void loadNamedTable(Module& module, const char* path) {
    HadamardColumns columns;
    int orders = 0;
    HadamardTableProblem problem;
    std::string where = std::string("Hadamard table ") + path;
    if (readHadamardTableFile(path, columns, orders, problem) != 0) {
        if (problem.line > 0) where += ", line " + std::to_string(problem.line);
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR,
                    where + " refused: " + problem.reason + "; decoding with the built-in table");
        return;
    }
    auto set = buildHadamardMatrixSet(columns);
    if (!set) {
        QUILLON_LOG(module, "getFormattedSpectrum", LOG_ERROR,
                    where + " refused: out of memory; decoding with the built-in table");
        return;
    }
    g_namedTable = std::move(set);
    QUILLON_LOG(module, "getFormattedSpectrum", INFO,
                where + ": " + std::to_string(orders) + " orders replace the built-in ones");
}

}  // namespace

void prepareHadamardTable(Module& module) {
    static std::once_flag once;
    if (!activeHasHadamardSection(module)) return;
    std::call_once(once, [&] {
        const char* path = std::getenv("QUILLONLIB_HADAMARD_TABLE");
        if (path != nullptr && *path != '\0') loadNamedTable(module, path);
    });
    module.hadamardSet = g_namedTable;
}

}  // namespace quillon
