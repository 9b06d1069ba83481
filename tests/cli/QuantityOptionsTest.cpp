// The calibration options: what --wavelength, --objective and --pixel-size accept, and which of options,
// settings file and defaults a run's calibration comes from.
#include "cli/QuantityOptions.h"

#include "analysis/Calibration.h"

#include <gtest/gtest.h>

namespace kestrane {
namespace {

QuantityOptions parsed(const std::string& option) {
    QuantityOptions options;
    const CommandSyntax syntax{quantityRules(options), "two files", "usage"};
    parseCommandLine({option, "in", "out"}, syntax);
    return options;
}

TEST(QuantityOptions, ReadersTakePlainNumbersInRange) {
    const struct {
        const char* option;
        double value; // < 0: refused
    } cases[] = {
        {"--wavelength=546", 546},  {"--wavelength=400", 400},       {"--wavelength=1e3", 1000},
        {"--wavelength=.5e3", 500}, {"--wavelength=399.9", -1},      {"--wavelength=1000.5", -1},
        {"--wavelength=546nm", -1}, {"--wavelength=5,46", -1},       {"--wavelength= 546", -1},
        {"--wavelength=nan", -1},   {"--wavelength=-546", -1},       {"--wavelength=0x222", -1},
        {"--objective=10", 10},     {"--objective=40", 40},          {"--objective=20", -1},
        {"--objective=04", -1},     {"--pixel-size=0.25", 0.25},     {"--pixel-size=1000", 1000},
        {"--pixel-size=0", -1},     {"--pixel-size=1e-300", 1e-300}, {"--pixel-size=inf", -1},
    };
    for (const auto& c : cases) {
        if (c.value < 0) {
            EXPECT_THROW(parsed(c.option), CommandError) << c.option;
            continue;
        }
        const QuantityOptions o = parsed(c.option);
        const double got = o.wavelengthNm ? *o.wavelengthNm
                           : o.objective  ? *o.objective
                                          : o.pixelSizeUm.value();
        EXPECT_EQ(got, c.value) << c.option;
    }
}

TEST(QuantityOptions, OptionsThenSettingsFileThenDefaults) {
    RecordedSettings file;
    file.objective = 10;
    file.pixelSizeUm = 0.7;
    file.wavelengthNm = 600;
    const struct {
        const char* name;
        QuantityOptions options;
        std::optional<RecordedSettings> recorded;
        double wavelength;
        int objective;
        double pixelSize;
        std::size_t taken;
    } cases[] = {
        {"nothing", {}, std::nullopt, 546, 4, scaleBarPixelSizeUm(4), 0},
        {"file", {}, file, 600, 10, 0.7, 3},
        // The options' objective brings its own pixel size rather than the file's.
        {"objective given", {std::nullopt, 40, std::nullopt}, file, 600, 40, scaleBarPixelSizeUm(40), 1},
        {"all given", {633.0, 4, 0.3}, file, 633, 4, 0.3, 0},
        {"file without size",
         {},
         RecordedSettings{10, std::nullopt, std::nullopt, {}},
         546,
         10,
         scaleBarPixelSizeUm(10),
         1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> taken;
        const QuantityCalibration got = resolveCalibration(c.options, c.recorded, taken);
        EXPECT_EQ(got.wavelengthNm, c.wavelength) << c.name;
        EXPECT_EQ(got.objective, c.objective) << c.name;
        EXPECT_DOUBLE_EQ(got.pixelSizeUm, c.pixelSize) << c.name;
        EXPECT_EQ(taken.size(), c.taken) << c.name;
    }
}

} // namespace
} // namespace kestrane
