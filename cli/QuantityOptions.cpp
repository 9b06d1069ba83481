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
        // strtod reads "inf", "nan", hex and leading blanks too; a plain decimal starts with a digit or a
        // point.
        const bool plain =
            !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.');
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

} // namespace kestrane
