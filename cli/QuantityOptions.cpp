// Reading the wavelength, objective and pixel size from the command line.
#include "cli/QuantityOptions.h"

#include "analysis/Calibration.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kestrane {

namespace {

std::string plainNumber(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

} // namespace

OptionReader readDecimal(std::optional<double>& target, double low, double high, bool lowOpen) {
    return [&target, low, high, lowOpen](const char* option, const std::string& text) {
        const char* begin = text.c_str();
        char* end = nullptr;
        const double value = std::strtod(begin, &end);
        // strtod reads "inf", "nan", hex ("0x222" is 546) and leading blanks too; a plain decimal starts
        // with a digit or a point and holds nothing but digits, a point and an exponent.
        const bool plain = !text.empty() &&
                           (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.') &&
                           text.find_first_not_of("0123456789.eE+-") == std::string::npos;
        if (!plain || end != begin + text.size() || !std::isfinite(value) || value > high ||
            (lowOpen ? value <= low : value < low)) {
            throw CommandError(std::string(option) + " must be a number " + (lowOpen ? "above " : "from ") +
                               plainNumber(low) + (lowOpen ? " up to " : " to ") + plainNumber(high) +
                               ", not '" + text + "'");
        }
        target = value;
    };
}

std::vector<OptionRule> quantityRules(QuantityOptions& options) {
    static const std::pair<const char*, int> kObjectives[] = {{"4", 4}, {"10", 10}, {"40", 40}};
    return {
        {"--wavelength", true, readDecimal(options.wavelengthNm, kMinimumWavelengthNm, kMaximumWavelengthNm)},
        {"--objective", true,
         [&options](const char* option, const std::string& text) {
             int objective = 4;
             readChoice(objective, kObjectives)(option, text);
             options.objective = objective;
         }},
        {"--pixel-size", true, readDecimal(options.pixelSizeUm, 0.0, 1000.0, true)}};
}

QuantityCalibration resolveCalibration(const QuantityOptions& options,
                                       const std::optional<RecordedSettings>& recorded,
                                       std::vector<std::string>& taken) {
    const RecordedSettings none;
    const RecordedSettings& file = recorded ? *recorded : none;
    QuantityCalibration c{kDefaultWavelengthNm, 4, 0.0};
    if (options.wavelengthNm) {
        c.wavelengthNm = *options.wavelengthNm;
    } else if (file.wavelengthNm) {
        c.wavelengthNm = *file.wavelengthNm;
        taken.push_back("wavelength " + plainNumber(c.wavelengthNm) + " nm");
    }
    if (options.objective) {
        c.objective = *options.objective;
    } else if (file.objective) {
        c.objective = *file.objective;
        taken.push_back("objective " + std::to_string(c.objective));
    }
    if (options.pixelSizeUm) {
        c.pixelSizeUm = *options.pixelSizeUm;
    } else if (!options.objective && file.pixelSizeUm) {
        c.pixelSizeUm = *file.pixelSizeUm;
        taken.push_back("pixel size " + plainNumber(c.pixelSizeUm) + " um");
    } else {
        c.pixelSizeUm = scaleBarPixelSizeUm(c.objective);
    }
    return c;
}

} // namespace kestrane
