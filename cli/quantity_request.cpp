#include "quantity_request.h"

#include "command_frame.h"
#include "exit_status.h"
#include "module_session.h"
#include "spectrum_file.h"

namespace quillon::cli {

std::optional<int> QuantityRequest::prepare(const ParsedArguments& args) {
    const bool reflectance = args.has("reflectance"), absorbance = args.has("absorbance");
    if (reflectance && absorbance)
        return usageError("scan", "--reflectance and --absorbance exclude each other");
    if (auto path = args.value("reference")) referencePath_ = *path;
    if (auto path = args.value("dark")) darkPath_ = *path;
    if (referencePath_.empty() && (reflectance || absorbance || !darkPath_.empty()))
        return usageError("scan", std::string(reflectance  ? "--reflectance"
                                              : absorbance ? "--absorbance"
                                                           : "--dark") +
                                      " needs --reference FILE");
    if (referencePath_.empty()) return std::nullopt;
    quantity_ = reflectance ? Quantity::Reflectance : Quantity::Absorbance;
    std::string why;
    if (!readSpectrumFile(referencePath_, reference_, why))
        return usageError("scan", "cannot use '" + referencePath_ + "' as the reference: " + why);
    if (!darkPath_.empty() && !readSpectrumFile(darkPath_, dark_, why))
        return usageError("scan", "cannot use '" + darkPath_ + "' as the dark spectrum: " + why);
    if (!darkPath_.empty() && dark_.value.size() != reference_.value.size())
        return usageError("scan", "'" + darkPath_ + "' holds " +
                                      std::to_string(dark_.value.size()) + " points, '" +
                                      referencePath_ + "' " +
                                      std::to_string(reference_.value.size()));
    // A reference that saw no light gives no value anywhere: a dark scan
    // named as the white one, or files swapped.
    bool lit = false;
    for (size_t i = 0; i < reference_.value.size() && !lit; ++i)
        lit = reference_.value[i] - (darkPath_.empty() ? 0.0 : dark_.value[i]) > 0;
    if (!lit)
        return usageError("scan",
                          "cannot use '" + referencePath_ +
                              "' as the reference: no point holds light above " +
                              (darkPath_.empty() ? "0" : "the dark spectrum '" + darkPath_ + "'") +
                              " (a dark scan, or the files swapped?)");
    return std::nullopt;
}

std::optional<int> QuantityRequest::checkPoints(size_t points) const {
    if (referencePath_.empty() || reference_.value.size() == points) return std::nullopt;
    return usageError("scan", "'" + referencePath_ + "' holds " +
                                  std::to_string(reference_.value.size()) +
                                  " points, the active configuration " + std::to_string(points) +
                                  " (scanned with another configuration or module?); nothing "
                                  "was scanned");
}

void QuantityRequest::describe(ScanSeries& series) const {
    series.quantity = quantity_;
    series.referenceFile = referencePath_;
    series.darkFile = darkPath_;
}

bool QuantityRequest::apply(Spectrum& spectrum) {
    if (quantity_ == Quantity::Intensity) return true;
    for (auto [path, file] : {std::pair{&referencePath_, &reference_}, {&darkPath_, &dark_}}) {
        if (path->empty()) continue;
        if (auto difference = wavelengthDifference(file->wavelengthNm, spectrum.wavelengthNm)) {
            reportError("the wavelengths of '" + *path + "' differ from this scan's: " +
                        *difference + " (another configuration or module?)");
            return false;
        }
    }
    spectrum.value =
        computeQuantity(quantity_, spectrum.value, reference_.value, dark_.value, tally_);
    return true;
}

void QuantityRequest::reportTally() const {
    const std::string text = tally_.describe();
    if (!text.empty()) reportError(text);
}

}  // namespace quillon::cli
