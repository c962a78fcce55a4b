#include "jcamp_reader.h"

#include <sstream>

#include "arguments.h"

namespace quillon::cli {
namespace {

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

}  // namespace

bool parseJcampText(const std::string& text, Spectrum& out, std::string& why) {
    std::istringstream in(text);
    std::string line, units;
    size_t number = 0;
    bool inData = false, ended = false;
    Spectrum read;
    while (!ended && std::getline(in, line)) {
        ++number;
        line = trimmed(line);
        if (line.rfind("##", 0) == 0) {
            const size_t eq = line.find('=');
            const std::string label = line.substr(2, eq == std::string::npos ? 0 : eq - 2);
            const std::string value = eq == std::string::npos ? "" : trimmed(line.substr(eq + 1));
            ended = label == "END";
            if (label == "YUNITS") units = value;
            if (label == "XYPOINTS") {
                if (value != "(XY..XY)") {
                    why = "its data are " + value + ", not the (XY..XY) pairs quillon writes";
                    return false;
                }
                inData = true;
            }
            continue;
        }
        if (!inData || line.empty() || line.rfind("$$", 0) == 0) continue;
        const size_t comma = line.find(',');
        double nm = 0, value = 0;
        if (comma == std::string::npos || !parseFiniteDouble(trimmed(line.substr(0, comma)), nm) ||
            !parseFiniteDouble(trimmed(line.substr(comma + 1)), value)) {
            why = "line " + std::to_string(number) + " is not a wavelength and an intensity: '" +
                  line + "'";
            return false;
        }
        read.wavelengthNm.push_back(nm);
        read.value.push_back(value);
    }
    if (units != namesOf(Quantity::Intensity).units) {
        why = units.empty() ? "not a JCAMP-DX spectrum written by quillon scan (no ##YUNITS)"
                            : "it holds " + units + ", not intensities";
        return false;
    }
    if (!ended) {
        why = inData ? "it ends before ##END=" : "it holds no ##XYPOINTS";
        return false;
    }
    out = std::move(read);
    return true;
}

}  // namespace quillon::cli
