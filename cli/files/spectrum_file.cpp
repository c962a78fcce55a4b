#include "spectrum_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <sstream>

#include "arguments.h"
#include "jcamp_reading.h"
#include "spectrum_axis.h"

namespace quillon::cli {
namespace {

constexpr const char* kWavenumberKey = "wavenumber_cm-1";
constexpr const char* kOneSpectrum =
    "; a reference is one spectrum (scan it without --count; --average is fine)";

bool readText(const std::string& path, std::string& text, std::string& why) {
    // Opening never waits (a FIFO named by mistake), and only a file is read.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = fd < 0 ? std::strerror(errno) : "not a regular file";
        if (fd >= 0) close(fd);
        return false;
    }
    FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        why = std::strerror(errno);
        close(fd);
        return false;
    }
    // One spectrum of at most 624 points is a few kilobytes, even as JSON.
    constexpr size_t kMostBytes = 1 << 22;
    char buffer[65536];
    size_t got = 0;
    while (text.size() <= kMostBytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) why = std::strerror(error);
    if (!failed && text.size() > kMostBytes) why = "it is too large to be one spectrum";
    return !failed && text.size() <= kMostBytes;
}

bool notIntensity(const std::string& quantity, std::string& why) {
    if (quantity == namesOf(Quantity::Intensity).key) return false;
    why = "it holds " + quantity + ", not intensities";
    return true;
}

bool fromJson(const std::string& text, Spectrum& out, std::string& why) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {  // also a number out of range
        const std::string what = error.what();
        why = "not valid JSON: " + what.substr(what.find("] ") + 2);
        return false;
    }
    if (!doc.is_object() || !doc.contains("scans") || !doc["scans"].is_array()) {
        why = "not a spectrum written by quillon scan (no \"scans\" list)";
        return false;
    }
    std::string quantity = namesOf(Quantity::Intensity).key;
    if (doc.contains("quantity")) {
        if (!doc["quantity"].is_string()) {
            why = "\"quantity\" is not a text";
            return false;
        }
        quantity = doc["quantity"].get<std::string>();
    }
    if (notIntensity(quantity, why)) return false;
    const nlohmann::json& scans = doc["scans"];
    if (scans.size() != 1) {
        why = "it holds " + std::to_string(scans.size()) + " spectra" + kOneSpectrum;
        return false;
    }
    const nlohmann::json& scan = scans[0];
    const bool wavenumbers = scan.is_object() && scan.contains(kWavenumberKey);
    const char* const xKey = wavenumbers ? kWavenumberKey : "wavelength_nm";
    for (const char* key : {xKey, "intensity"}) {
        if (!scan.is_object() || !scan.contains(key) || !scan[key].is_array()) {
            why = std::string("the spectrum has no \"") + key + "\" list";
            return false;
        }
        for (size_t i = 0; i < scan[key].size(); ++i) {
            if (!scan[key][i].is_number()) {
                why = std::string("\"") + key + "\" entry " + std::to_string(i + 1) +
                      " is not a number";
                return false;
            }
        }
    }
    out.wavelengthNm = scan[xKey].get<std::vector<double>>();
    out.value = scan["intensity"].get<std::vector<double>>();
    if (wavenumbers) toWavenumbers(out);
    return true;
}

std::string trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');) out.push_back(field);
    if (!line.empty() && line.back() == ',') out.emplace_back();
    return out;
}

bool fromCsv(const std::string& text, Spectrum& out, std::string& why) {
    bool wavenumbers = false;
    std::istringstream in(text);
    std::string line;
    size_t number = 0, columns = 0;
    std::string scanSeen;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> cells = fields(line);
        if (columns == 0) {
            const bool numbered = !cells.empty() && cells[0] == "scan";
            columns = numbered ? 3 : 2;
            wavenumbers = cells.size() == columns && cells[columns - 2] == kWavenumberKey;
            if (cells.size() != columns ||
                (cells[columns - 2] != "wavelength_nm" && !wavenumbers)) {
                why = "not a spectrum written by quillon scan (the header is '" + line + "')";
                return false;
            }
            if (notIntensity(cells.back(), why)) return false;
            continue;
        }
        double nm = 0, value = 0;
        const std::string where = "line " + std::to_string(number) + " ('" + line + "')";
        if (cells.size() != columns) {
            why = where + " has " + std::to_string(cells.size()) + " fields, not " +
                  std::to_string(columns);
            return false;
        }
        for (auto [cell, target] : {std::pair{columns - 2, &nm}, {columns - 1, &value}}) {
            if (!parseDecimal(trimmed(cells[cell]), *target)) {
                why = where + ": '" + trimmed(cells[cell]) + "' is not a decimal number";
                return false;
            }
        }
        if (columns == 3) {
            if (scanSeen.empty()) scanSeen = cells[0];
            if (cells[0] != scanSeen) {
                why = "it holds several spectra" + std::string(kOneSpectrum);
                return false;
            }
        }
        out.wavelengthNm.push_back(nm);
        out.value.push_back(value);
    }
    if (columns == 0) {
        why = "it is empty";
        return false;
    }
    if (wavenumbers) toWavenumbers(out);
    return true;
}

}  // namespace

bool readSpectrumFile(const std::string& path, Spectrum& out, std::string& why) {
    std::string text;
    return readText(path, text, why) && parseSpectrumText(text, out, why);
}

bool parseSpectrumText(const std::string& text, Spectrum& out, std::string& why) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    const bool json = first != std::string::npos && text[first] == '{';
    const bool jcamp = first != std::string::npos && text.compare(first, 2, "##") == 0;
    Spectrum read;
    std::string yUnits;
    if (jcamp) {
        if (!parseJcampSpectrum(text, read, yUnits, why)) return false;
        if (yUnits != namesOf(Quantity::Intensity).units) {
            why = "it holds ##YUNITS=" + yUnits + ", not intensities";
            return false;
        }
    } else if (!(json ? fromJson(text, read, why) : fromCsv(text, read, why))) {
        return false;
    }
    if (read.wavelengthNm.size() != read.value.size()) {
        why = std::to_string(read.wavelengthNm.size()) + " wavelengths but " +
              std::to_string(read.value.size()) + " intensities";
        return false;
    }
    if (read.wavelengthNm.empty()) {
        why = "it holds no points";
        return false;
    }
    for (size_t i = 0; i < read.wavelengthNm.size(); ++i) {
        if (!(std::isfinite(read.wavelengthNm[i]) && read.wavelengthNm[i] > 0 &&
              std::isfinite(read.value[i]))) {
            why = "point " + std::to_string(i + 1) + " is not a wavelength and an intensity";
            return false;
        }
        if (i > 0 && !(read.wavelengthNm[i] > read.wavelengthNm[i - 1])) {
            why = "the wavelength of point " + std::to_string(i + 1) +
                  " does not rise above "
                  "that of point " +
                  std::to_string(i);
            return false;
        }
    }
    out = std::move(read);
    return true;
}

}  // namespace quillon::cli
