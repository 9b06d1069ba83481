// The options of the commands that hand out quantities with units: wavelength, objective and pixel size, each
// unset until the command line (or a movie's settings file) gives it.
#pragma once

#include "cli/Options.h"

#include <optional>
#include <vector>

namespace kestrane {

struct QuantityOptions {
    std::optional<double> wavelengthNm; // 400..1000
    std::optional<int> objective;       // 4, 10 or 40
    std::optional<double> pixelSizeUm;  // > 0
};

// A decimal number from `low` to `high` ("546", "0.25", "1e2"; a point, never a comma), refused in words
// otherwise; `lowOpen` leaves `low` itself out.
OptionReader readDecimal(std::optional<double>& target, double low, double high, bool lowOpen = false);

// The rules of --wavelength, --objective and --pixel-size.
std::vector<OptionRule> quantityRules(QuantityOptions& options);

// What the quantities of a run are given in.
struct QuantityCalibration {
    double wavelengthNm;
    int objective;
    double pixelSizeUm;
};

// The options first, then what a movie's settings file recorded, then the defaults (546 nm, objective 4).
// The pixel size is --pixel-size, else the scale bar's of --objective, else the recorded one, else the
// scale bar's of the recorded objective. `taken` gets, in words, each value the settings file gave.
QuantityCalibration resolveCalibration(const QuantityOptions& options,
                                       const std::optional<RecordedSettings>& recorded,
                                       std::vector<std::string>& taken);

} // namespace kestrane
