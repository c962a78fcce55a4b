#include "series_runner.h"

#include <chrono>

#include <optional>

#include "progress_bar.h"
#include "scan_runner.h"

namespace quillon::cli {

SeriesRunner::SeriesRunner(SeriesPlan plan, LampSwitch& lamp, ModuleCall onModule)
    : plan_(std::move(plan)), lamp_(lamp), onModule_(std::move(onModule)) {
    series_.average = plan_.average;
    series_.files = plan_.files;
    plan_.quantity.describe(series_);
}

void SeriesRunner::onModule(const std::function<void()>& work) {
    if (onModule_)
        onModule_(work);
    else
        work();
}

void SeriesRunner::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
}

void SeriesRunner::cancel() {
    {
        std::lock_guard lock(mutex_);
        stop_ = cancel_ = true;
    }
    if (plan_.module != nullptr) quillon_cancel(plan_.module);
    wake_.notify_all();
}

bool SeriesRunner::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancel_;
}

bool SeriesRunner::stopRequested() const {
    std::lock_guard lock(mutex_);
    return stop_;
}

bool SeriesRunner::waitUntil(std::chrono::steady_clock::time_point until) {
    std::unique_lock lock(mutex_);
    return !wake_.wait_until(lock, until, [this] { return stop_; });
}

SeriesEnd SeriesRunner::run(const OnStart& onStart, const OnSpectrum& onSpectrum) {
    MeasureOptions measure;
    measure.average = plan_.average;
    measure.progress = plan_.progress;
    measure.abandon = [this] { return cancelled(); };
    measure.module = plan_.module;
    SeriesEnd end;
    bool described = false;
    onModule([&] { described = describeModule(series_, measure.points, end.why, plan_.module); });
    if (!described) {
        end.kind = SeriesEnd::Unready;
        return end;
    }
    if (onStart) onStart(series_);

    // The module measures the light its lamp sends back; without it only stray light.
    std::optional<bool> before;
    onModule([&] { before = lamp_.apply(plan_.lamp); });
    const auto steady = [](double seconds) {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(seconds));
    };
    bool warm = true;
    if (plan_.lamp == LampPolicy::On && before != true && plan_.warmupSeconds > 0) {
        const auto wait = steady(plan_.warmupSeconds);
        std::optional<ProgressBar> bar;
        if (plan_.progress)
            bar.emplace(stderr, "warm-up",
                        std::chrono::duration_cast<std::chrono::milliseconds>(wait));
        warm = waitUntil(std::chrono::steady_clock::now() + wait);
    }
    const auto first = std::chrono::steady_clock::now();
    for (unsigned long k = 1; warm && (plan_.count == 0 || k <= plan_.count); ++k) {
        if (!waitUntil(first + steady(plan_.intervalSeconds * static_cast<double>(k - 1)))) break;
        ScanResult scan;
        scan.number = static_cast<unsigned>(k);
        scan.startedSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
        scan.startedAt = std::chrono::system_clock::now();
        measure.label = "scan";
        if (plan_.count != 1) measure.label += " " + std::to_string(k);
        if (plan_.count > 1) measure.label += "/" + std::to_string(plan_.count);
        bool measured = false;
        std::string why;
        onModule([&] { measured = measureSpectrum(measure, scan.spectrum, why); });
        if (!measured) {
            if (cancelled()) break;
            end = {SeriesEnd::Failed, why};
            break;
        }
        if (auto mismatch = plan_.quantity.apply(scan.spectrum, tally_)) {
            end = {SeriesEnd::Mismatch, *mismatch};
            break;
        }
        series_.scans.push_back(std::move(scan));
        if (plan_.keepLast != 0 && series_.scans.size() > plan_.keepLast)
            series_.scans.erase(series_.scans.begin());
        if (onSpectrum && !onSpectrum(series_, series_.scans.back())) {
            end.kind = SeriesEnd::Stopped;
            break;
        }
    }
    onModule([&] { lamp_.restore(plan_.lamp, before); });
    if (end.kind == SeriesEnd::Completed && stopRequested()) end.kind = SeriesEnd::Stopped;
    return end;
}

}  // namespace quillon::cli
