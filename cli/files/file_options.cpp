#include "file_options.h"

#include "command_frame.h"
#include "spectrum_axis.h"

namespace quillon::cli {
namespace {

constexpr size_t kMostTextBytes = 4096;

bool printable(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

}  // namespace

std::optional<int> FileOptions::prepare(const ParsedArguments& args) {
    for (auto [option, target] :
         {std::pair{"sample", &labels_.sample}, {"comment", &labels_.comment}}) {
        const std::optional<std::string> text = args.value(option);
        if (!text) continue;
        if (text->empty() || text->size() > kMostTextBytes || !printable(*text))
            return usageError("scan", std::string("--") + option +
                                          " needs a text of 1 to 4096 bytes on one line");
        *target = *text;
    }
    if (auto text = args.value("grid")) {
        std::string why;
        labels_.grid = parseGrid(*text, why);
        if (!labels_.grid) return usageError("scan", why);
    }
    if (auto units = args.value("xunits")) {
        if (*units != "nm" && *units != "cm-1")
            return usageError("scan", "--xunits needs nm or cm-1, not '" + *units + "'");
        labels_.wavenumbers = *units == "cm-1";
    }
    return std::nullopt;
}

std::optional<std::string> FileOptions::refusal(const Spectrum& spectrum) const {
    if (!labels_.grid) return std::nullopt;
    Spectrum even = spectrum;
    std::string why;
    if (resampleOnto(*labels_.grid, even, why)) return std::nullopt;
    return "--grid: " + why + "; choose a grid within it";
}

}  // namespace quillon::cli
