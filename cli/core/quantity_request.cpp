#include "quantity_request.h"

#include "command_frame.h"
#include "spectrum_file.h"

namespace quillon::cli {

std::optional<int> QuantityRequest::prepare(const ParsedArguments& args) {
    const bool reflectance = args.has("reflectance"), absorbance = args.has("absorbance");
    if (reflectance && absorbance)
        return usageError("scan", "--reflectance and --absorbance exclude each other");
    const std::string referencePath = args.value("reference").value_or("");
    const std::string darkPath = args.value("dark").value_or("");
    if (referencePath.empty() && (reflectance || absorbance || !darkPath.empty()))
        return usageError("scan", std::string(reflectance  ? "--reflectance"
                                              : absorbance ? "--absorbance"
                                                           : "--dark") +
                                      " needs --reference FILE");
    if (referencePath.empty()) return std::nullopt;
    basis_.quantity = reflectance ? Quantity::Reflectance : Quantity::Absorbance;
    basis_.mismatchHint = "another configuration or module?";
    struct File {
        const std::string* path;
        std::optional<ReferenceSpectrum>* slot;
        const char* role;
    };
    for (const auto& [path, slot, role] : {File{&referencePath, &basis_.white, "the reference"},
                                           File{&darkPath, &basis_.dark, "the dark spectrum"}}) {
        if (path->empty()) continue;
        ReferenceSpectrum file{{}, *path, "'" + *path + "'"};
        std::string why;
        if (!readSpectrumFile(*path, file.spectrum, why))
            return usageError("scan", "cannot use '" + *path + "' as " + role + ": " + why);
        *slot = std::move(file);
    }
    const std::vector<double>& white = basis_.white->spectrum.value;
    const std::vector<double>* dark = basis_.dark ? &basis_.dark->spectrum.value : nullptr;
    if (dark != nullptr && dark->size() != white.size())
        return usageError("scan", "'" + darkPath + "' holds " + std::to_string(dark->size()) +
                                      " points, '" + referencePath + "' " +
                                      std::to_string(white.size()));
    // A reference that saw no light gives no value anywhere: a dark scan
    // named as the white one, or the files swapped.
    bool lit = false;
    for (size_t i = 0; i < white.size() && !lit; ++i)
        lit = white[i] - (dark != nullptr ? (*dark)[i] : 0.0) > 0;
    if (!lit)
        return usageError(
            "scan",
            "cannot use '" + referencePath + "' as the reference: no point holds light above " +
                (dark != nullptr ? "the dark spectrum '" + darkPath + "'" : std::string("0")) +
                " (a dark scan, or the files swapped?)");
    return std::nullopt;
}

std::optional<int> QuantityRequest::checkPoints(size_t points) const {
    if (!basis_.white || basis_.white->spectrum.value.size() == points) return std::nullopt;
    return usageError("scan", basis_.white->label + " holds " +
                                  std::to_string(basis_.white->spectrum.value.size()) +
                                  " points, the active configuration " + std::to_string(points) +
                                  " (scanned with another configuration or module?); nothing "
                                  "was scanned");
}

}  // namespace quillon::cli
