#include "config/tables.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "core/errors.h"

namespace quillon {

bool getScanType(Module& module, std::map<int, std::string>& table) {
    table.emplace(0, "Column");
    table.emplace(1, "Hadamard");
    QUILLON_LOG(module, "getScanType", LOG_DEBUG, "Get scan type success");
    return true;
}

double widthValueOf(int pixels) {
    // Widths are multiples of the column pitch, rounded to two decimals the way
    // they are shown to people, so the values compare equal to what callers type.
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", pixels * 1.17096018735363);
    return std::strtod(text, nullptr);
}

bool getWidthPixels(Module& module, std::vector<double>& table) {
    for (int k = kMinWidthPixels; k < kMinWidthPixels + kWidthTableSize; ++k)
        table.push_back(widthValueOf(k));
    QUILLON_LOG(module, "getWidthPixels", LOG_DEBUG, "Get width pixels success");
    return true;
}

bool getExposureTimes(Module& module, std::vector<double>& table) {
    table.insert(table.end(), std::begin(kExposureTimesMs), std::end(kExposureTimesMs));
    QUILLON_LOG(module, "getExposureTimes", LOG_DEBUG, "Get exposure times success");
    return true;
}

int findTableValue(const std::vector<double>& table, double value) {
    for (size_t i = 0; i < table.size(); ++i) {
        double d = table[i] - value;
        if (-1e-7 < d && d < 1e-7) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace quillon
