// The reader of reference and dark spectra, which takes files from the user:
// whatever the text, it accepts or refuses with a reason, and what it accepts
// is one spectrum of finite, positive wavelengths and finite intensities.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "spectrum_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    quillon::cli::Spectrum spectrum;
    std::string why;
    if (!quillon::cli::parseSpectrumText(text, spectrum, why)) {
        if (why.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    if (spectrum.wavelengthNm.empty() || spectrum.wavelengthNm.size() != spectrum.value.size())
        std::abort();
    for (size_t i = 0; i < spectrum.value.size(); ++i)
        if (!(spectrum.wavelengthNm[i] > 0 && std::isfinite(spectrum.wavelengthNm[i]) &&
              std::isfinite(spectrum.value[i])))
            std::abort();
    return 0;
}
