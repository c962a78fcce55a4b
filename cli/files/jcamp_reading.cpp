#include "jcamp_reading.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <sstream>
#include <vector>

#include "spectrum_axis.h"

namespace quillon::cli {
namespace {

struct DataLine {
    size_t number;
    std::string text;
    std::vector<std::string> tokens;
};

// A label in its normal form: upper case, without spaces, '-', '/' and '_'.
std::string normalLabel(const std::string& label) {
    std::string out;
    for (char c : label)
        if (!std::isspace(static_cast<unsigned char>(c)) && c != '-' && c != '/' && c != '_')
            out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return out;
}

std::string withoutComment(const std::string& line) {
    const size_t at = line.find("$$");
    std::string kept = at == std::string::npos ? line : line.substr(0, at);
    while (!kept.empty() && std::isspace(static_cast<unsigned char>(kept.back()))) kept.pop_back();
    const size_t first = kept.find_first_not_of(" \t");
    return first == std::string::npos ? "" : kept.substr(first);
}

std::vector<std::string> tokensOf(const std::string& text) {
    std::vector<std::string> out;
    std::string token;
    for (char c : text + " ") {
        if (c == ',' || c == ';' || std::isspace(static_cast<unsigned char>(c))) {
            if (!token.empty()) out.push_back(token);
            token.clear();
        } else {
            token.push_back(c);
        }
    }
    return out;
}

std::string quoted(const DataLine& line) {
    return "line " + std::to_string(line.number) + " ('" + line.text + "')";
}

bool number(const std::string& token, double& value) {
    if (token == "?") {
        value = NAN;
        return true;
    }
    return parseDecimal(token, value);
}

struct Block {
    std::map<std::string, std::string> records;
    std::string form;  // XYPOINTS or XYDATA
    std::vector<DataLine> data;
};

bool readBlock(const std::string& text, Block& block, std::string& why) {
    std::istringstream in(text);
    std::string line;
    size_t number = 0;
    int depth = 0, blocks = 0;
    bool inData = false;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("$$", 0) == 0) continue;
        if (line.rfind("##", 0) != 0) {
            const std::string kept = withoutComment(line);
            if (inData && !kept.empty()) block.data.push_back({number, line, tokensOf(kept)});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string::npos) {
            why = "line " + std::to_string(number) + " ('" + line + "') is a record without '='";
            return false;
        }
        const std::string label = normalLabel(line.substr(2, equals - 2));
        const std::string value = withoutComment(line.substr(equals + 1));
        inData = false;
        if (label == "TITLE") {
            if (++depth > 1 || ++blocks > 1) {
                why = "it holds several blocks; a reference is one spectrum";
                return false;
            }
        } else if (depth == 0) {
            why = "line " + std::to_string(number) + " ('" + line + "') comes before ##TITLE=";
            return false;
        }
        if (label == "END") {
            --depth;
            continue;
        }
        block.records[label] = value;
        if (label == "XYPOINTS" || label == "XYDATA") {
            std::string form;
            for (char c : value)
                if (c != ' ') form.push_back(static_cast<char>(std::toupper(c)));
            if ((label == "XYPOINTS" && form != "(XY..XY)") ||
                (label == "XYDATA" && form != "(X++(Y..Y))")) {
                why = "line " + std::to_string(number) + " ('" + line +
                      "'): only ##XYPOINTS=(XY..XY) and ##XYDATA=(X++(Y..Y)) are read";
                return false;
            }
            block.form = label;
            inData = true;
        }
    }
    if (block.form.empty()) {
        why = "not a JCAMP-DX spectrum (no ##XYPOINTS= or ##XYDATA= record)";
        return false;
    }
    if (depth != 0) {
        why = "its block has no ##END=";
        return false;
    }
    return true;
}

bool recordNumber(const Block& block, const char* label, double fallback, double& value,
                  std::string& why) {
    const auto found = block.records.find(label);
    if (found == block.records.end()) {
        value = fallback;
        return true;
    }
    if (parseDecimal(found->second, value)) return true;
    why = std::string("##") + label + "=" + found->second + " is not a decimal number";
    return false;
}

}  // namespace

bool parseJcampSpectrum(const std::string& text, Spectrum& out, std::string& yUnits,
                        std::string& why) {
    Block block;
    if (!readBlock(text, block, why)) return false;
    std::string xUnits = block.records.count("XUNITS") ? block.records["XUNITS"] : "";
    std::transform(xUnits.begin(), xUnits.end(), xUnits.begin(), ::toupper);
    if (xUnits != "NANOMETERS" && xUnits != "1/CM") {
        why = "##XUNITS=" + xUnits + " is neither NANOMETERS nor 1/CM";
        return false;
    }
    yUnits = block.records.count("YUNITS") ? block.records["YUNITS"] : "";
    double xFactor = 1, yFactor = 1;
    if (!recordNumber(block, "XFACTOR", 1, xFactor, why) ||
        !recordNumber(block, "YFACTOR", 1, yFactor, why))
        return false;
    if (xFactor == 0 || yFactor == 0) {
        why = std::string("##") + (xFactor == 0 ? "XFACTOR" : "YFACTOR") + "=0 is no factor";
        return false;
    }
    Spectrum read;
    if (block.form == "XYPOINTS") {
        for (const DataLine& line : block.data) {
            if (line.tokens.size() % 2 != 0) {
                why = quoted(line) + " does not hold (x, y) pairs";
                return false;
            }
            for (size_t i = 0; i < line.tokens.size(); i += 2) {
                double x = 0, y = 0;
                if (!parseDecimal(line.tokens[i], x) || !number(line.tokens[i + 1], y)) {
                    why = quoted(line) + ": '" +
                          line.tokens[parseDecimal(line.tokens[i], x) ? i + 1 : i] +
                          "' is not a decimal number";
                    return false;
                }
                read.wavelengthNm.push_back(x * xFactor);
                read.value.push_back(y * yFactor);
            }
        }
    } else {
        double first = 0, last = 0, count = 0;
        for (const char* label : {"FIRSTX", "LASTX", "NPOINTS"})
            if (!block.records.count(label)) {
                why = std::string("##XYDATA=(X++(Y..Y)) needs ##") + label;
                return false;
            }
        if (!recordNumber(block, "FIRSTX", 0, first, why) ||
            !recordNumber(block, "LASTX", 0, last, why) ||
            !recordNumber(block, "NPOINTS", 0, count, why))
            return false;
        if (count < 2 || count != std::floor(count) || count > 1e6 || first == last) {
            why = "##FIRSTX, ##LASTX and ##NPOINTS describe no grid";
            return false;
        }
        const double step = (last - first) / (count - 1);
        for (const DataLine& line : block.data) {
            double x = 0;
            const double expected = first + step * static_cast<double>(read.value.size());
            if (!parseDecimal(line.tokens[0], x) || std::fabs(x - expected) > std::fabs(step) / 2) {
                why = quoted(line) + " does not start at the X of point " +
                      std::to_string(read.value.size() + 1);
                return false;
            }
            for (size_t i = 1; i < line.tokens.size(); ++i) {
                double y = 0;
                if (!number(line.tokens[i], y)) {
                    why = quoted(line) + ": '" + line.tokens[i] + "' is not a decimal number";
                    return false;
                }
                read.wavelengthNm.push_back(
                    (first + step * static_cast<double>(read.value.size())) * xFactor);
                read.value.push_back(y * yFactor);
            }
        }
    }
    double declared = 0;
    if (block.records.count("NPOINTS") && recordNumber(block, "NPOINTS", 0, declared, why) &&
        declared != static_cast<double>(read.value.size())) {
        why = "##NPOINTS=" + block.records["NPOINTS"] + " but " +
              std::to_string(read.value.size()) + " points follow";
        return false;
    }
    if (xUnits == "1/CM") {
        for (double x : read.wavelengthNm)
            if (!(x > 0)) {
                why = "a wavenumber is not above 0";
                return false;
            }
        toWavenumbers(read);  // 10^7 / x turns wavenumbers back into ascending wavelengths
    }
    out = std::move(read);
    return true;
}

}  // namespace quillon::cli
