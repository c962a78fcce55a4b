#include "sim/module_clock.h"

#include <cstdlib>

namespace quillon::sim {
namespace {

double initialScale() {
    const char* text = std::getenv("QUILLONLIB_SIMULATOR_TIME_SCALE");
    if (text == nullptr || *text == '\0') return 1.0;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !(value >= 0.0) || value > 1000.0) return 1.0;
    return value;
}

double& scaleValue() {
    static double scale = initialScale();
    return scale;
}

}  // namespace

double timeScale() {
    return scaleValue();
}

void setTimeScale(double scale) {
    scaleValue() = scale > 0.0 ? scale : 0.0;
}

ModuleTime moduleNow() {
    return std::chrono::steady_clock::now();
}

ModuleTime moduleAfter(ModuleTime start, uint32_t moduleMs) {
    const double hostMs = static_cast<double>(moduleMs) * timeScale();
    return start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double, std::milli>(hostMs));
}

}  // namespace quillon::sim
