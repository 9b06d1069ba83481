// kestrane-analyse --stats: the region statistics of the quantities for a frame or every frame of a movie.
#include "cli/Commands.h"
#include "cli/QuantityOptions.h"

#include "analysis/Calibration.h"
#include "analysis/MeasurementState.h"
#include "analysis/Quantities.h"
#include "imaging/Bmp.h"
#include "measure/RegionStatistics.h"
#include "measure/StatisticsText.h"
#include "recording/AviFrames.h"

#include <algorithm>
#include <optional>
#include <ostream>

namespace kestrane {

namespace {

struct StatsOptions {
    std::array<std::int32_t, 4> edges{};
    QuantityOptions quantities;
    AnalysisOptions analysis;
    std::string input;
    std::string out;
};

StatsOptions parseStatsOptions(const std::vector<std::string>& args) {
    StatsOptions o;
    std::vector<OptionRule> rules = {
        {"--stats", true,
         [&o](const char* option, const std::string& text) { o.edges = readRegionEdges(option, text); }},
        {"--flatfield", true, readText(o.analysis.flatField)}};
    // Of the quantities' options only the wavelength changes a statistic.
    for (OptionRule& rule : quantityRules(o.quantities)) {
        if (std::string(rule.name) == "--wavelength") {
            rules.push_back(rule);
        }
    }
    const auto [input, out] =
        parseCommandLine(args, CommandSyntax{rules, "an input file and a CSV file", kStatsUsage});
    o.input = input;
    o.out = out;
    return o;
}

MapRegion regionInMap(const std::array<std::int32_t, 4>& e) {
    const std::optional<MapRegion> region = clippedRegion(e[0], e[1], e[2], e[3], kMapWidth, kMapHeight);
    if (!region) {
        throw CommandError("the region " + std::to_string(e[0]) + "," + std::to_string(e[1]) + "," +
                           std::to_string(e[2]) + "," + std::to_string(e[3]) + " lies outside the " +
                           std::to_string(kMapWidth) + " x " + std::to_string(kMapHeight) + " map");
    }
    return *region;
}

// The time of each frame: the movie's own frame times when its settings file has one for every frame, else
// the frame's place times the period its header declares.
std::vector<double> frameTimes(const AviFrameReader& reader, const std::optional<RecordedSettings>& settings,
                               std::vector<std::string>& taken) {
    const auto count = static_cast<std::size_t>(std::max(reader.frameCount(), 0));
    if (settings && !settings->frameTimesS.empty() && settings->frameTimesS.size() >= count) {
        taken.push_back("frame times (" + std::to_string(settings->frameTimesS.size()) + ")");
        return std::vector<double>(settings->frameTimesS.begin(), settings->frameTimesS.begin() + count);
    }
    const AviStreamInfo& info = reader.streamInfo();
    const double period = info.dwRate != 0 && info.dwScale != 0
                              ? static_cast<double>(info.dwScale) / info.dwRate
                              : static_cast<double>(measurementState().OfflineFrameSeconds);
    std::vector<double> times(count);
    for (std::size_t n = 0; n < count; ++n) {
        times[n] = static_cast<double>(n) * period;
    }
    return times;
}

} // namespace

int runStatsCommand(const std::vector<std::string>& args, std::ostream& err) {
    StatsOptions o = parseStatsOptions(args);
    const MapRegion region = regionInMap(o.edges);
    CommandInputs inputs;
    inputs.add(o.input, "input");
    inputs.add(o.analysis.flatField, "flat field");
    inputs.refuseAsOutput(o.out);
    applyAnalysisOptions(o.analysis);
    const MeasurementState& state = measurementState();

    const bool movie = isAviFile(o.input);
    AviFrameReader reader;
    Bitmap frame;
    std::vector<double> times = {0.0};
    if (movie) {
        openCommandMovie(reader, o.input, err);
        requireCameraFrameSize(reader.width(), reader.height(), "movie '" + o.input + "'", false);
        const std::optional<RecordedSettings> settings = readMovieSettings(o.input, err);
        std::vector<std::string> taken;
        if (!o.quantities.wavelengthNm && settings && settings->wavelengthNm &&
            wavelengthInRange(*settings->wavelengthNm)) {
            o.quantities.wavelengthNm = settings->wavelengthNm;
            taken.push_back("wavelength " + statisticsNumber(*settings->wavelengthNm) + " nm");
        }
        times = frameTimes(reader, settings, taken);
        reportTakenSettings(o.input, taken, err);
    } else {
        std::string error;
        if (!readBmpFile(o.input, frame, error)) {
            throw CommandError("cannot read frame '" + o.input + "': " + error);
        }
        requireCameraFrameSize(frame.width(), frame.height(), "frame '" + o.input + "'", false);
    }
    const double wavelength = o.quantities.wavelengthNm.value_or(kDefaultWavelengthNm);

    std::string csv = frameStatisticsHeader();
    QuantityMaps maps;
    for (std::size_t n = 0; n < times.size(); ++n) {
        const auto index = static_cast<std::int32_t>(n);
        if (movie && !reader.frame(index, frame)) {
            err << "kestrane-analyse: frame " << n << " of '" << o.input
                << "' cannot be read; analysed as black\n";
        }
        computeQuantities(frame.view(), state, wavelength, maps);
        csv += frameStatisticsRow(index, times[n], regionStatistics(maps, region));
    }
    writeOutputFile(o.out, std::vector<std::uint8_t>(csv.begin(), csv.end()));
    return 0;
}

} // namespace kestrane
