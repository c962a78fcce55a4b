#include "file_options.h"

#include "command_frame.h"
#include "module_session.h"
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
    for (auto [option, target] : {std::pair{"sample", &sample_}, {"comment", &comment_}}) {
        const std::optional<std::string> text = args.value(option);
        if (!text) continue;
        if (text->empty() || text->size() > kMostTextBytes || !printable(*text))
            return usageError("scan", std::string("--") + option +
                                          " needs a text of 1 to 4096 bytes on one line");
        *target = *text;
    }
    if (auto text = args.value("grid")) {
        std::string why;
        grid_ = parseGrid(*text, why);
        if (!grid_) return usageError("scan", why);
    }
    if (auto units = args.value("xunits")) {
        if (*units != "nm" && *units != "cm-1")
            return usageError("scan", "--xunits needs nm or cm-1, not '" + *units + "'");
        wavenumbers_ = *units == "cm-1";
    }
    return std::nullopt;
}

void FileOptions::describe(ScanSeries& series) const {
    series.sample = sample_;
    series.comment = comment_;
    series.grid = grid_;
    series.wavenumbers = wavenumbers_;
}

bool FileOptions::apply(Spectrum& spectrum) const {
    if (!grid_) return true;
    std::string why;
    if (resampleOnto(*grid_, spectrum, why)) return true;
    reportError("--grid: " + why + "; choose a grid within it");
    return false;
}

}  // namespace quillon::cli
