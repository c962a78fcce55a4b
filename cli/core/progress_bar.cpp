#include "progress_bar.h"

#include <algorithm>

namespace quillon::cli {
namespace {

constexpr int kBarCells = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string seconds(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

}  // namespace

std::string renderProgress(const std::string& label, std::chrono::milliseconds elapsed,
                           std::chrono::milliseconds expected, int width) {
    double fraction = expected.count() > 0 ? static_cast<double>(elapsed.count()) /
                                                 static_cast<double>(expected.count())
                                           : 1.0;
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(fraction * width);
    std::string line = label + " [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(width - filled), '-') + "] ";
    char percent[16];
    // The estimate is the module's; past it the scan is finishing, not stuck at 100 %.
    std::snprintf(percent, sizeof percent, "%3d%%", std::min(99, static_cast<int>(fraction * 100)));
    line += percent;
    line += "  " + seconds(elapsed) + " of ~" + seconds(expected);
    return line;
}

ProgressBar::ProgressBar(FILE* terminal, std::string label, std::chrono::milliseconds expected)
    : terminal_(terminal),
      label_(std::move(label)),
      expected_(expected),
      start_(std::chrono::steady_clock::now()),
      thread_([this] { run(); }) {}

ProgressBar::~ProgressBar() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    wake_.notify_all();
    thread_.join();
    std::fprintf(terminal_, "\r\033[K");
    std::fflush(terminal_);
}

void ProgressBar::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start_);
        std::fprintf(terminal_, "\r%s\033[K",
                     renderProgress(label_, elapsed, expected_, kBarCells).c_str());
        std::fflush(terminal_);
        wake_.wait_for(lock, kRedrawEvery, [this] { return done_; });
    }
}

}  // namespace quillon::cli
