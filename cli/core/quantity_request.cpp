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
    return std::nullopt;
}

}  // namespace quillon::cli
