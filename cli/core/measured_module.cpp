#include "measured_module.h"

#include "quillonlib.h"

namespace quillon::cli {
namespace {

class LibraryModule final : public MeasuredModule {
  public:
    bool describe(ScanSeries& series, unsigned& points, std::string& why) override {
        return describeModule(series, points, why);
    }
    bool measure(const MeasureOptions& options, Spectrum& out, std::string& why) override {
        return measureSpectrum(options, out, why);
    }
    bool setLamp(bool on) override { return setLampStatus(on ? 1 : 0) == 0; }
};

}  // namespace

MeasuredModule& MeasuredModule::library() {
    static LibraryModule module;
    return module;
}

}  // namespace quillon::cli
