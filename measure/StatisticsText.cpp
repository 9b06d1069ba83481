// The region statistics as clipboard text and CSV.
#include "measure/StatisticsText.h"

#include <charconv>
#include <cmath>

namespace kestrane {

namespace {

std::string joined(const std::vector<std::string>& fields, char separator) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += separator;
        }
        line += fields[i];
    }
    return line;
}

std::vector<std::string> regionFields(const MapRegion& region) {
    return {std::to_string(region.left), std::to_string(region.top), std::to_string(region.right),
            std::to_string(region.bottom)};
}

std::vector<std::string> concatenated(std::vector<std::string> first,
                                      const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const std::vector<std::string> kEdgeColumns = {"left", "top", "right", "bottom"};

} // namespace

const std::vector<std::string>& statisticsColumns() {
    static const std::vector<std::string> columns = {"pixels",
                                                     "retardance_mean_nm",
                                                     "retardance_sd_nm",
                                                     "sind_mean",
                                                     "orientation_mean_deg",
                                                     "orientation_spread_deg",
                                                     "transmission_mean_pct"};
    return columns;
}

std::string statisticsNumber(double value) {
    if (std::isnan(value)) {
        return {};
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 10).ptr;
    return std::string(text, end);
}

std::vector<std::string> statisticsValues(const RegionStatistics& s) {
    return {std::to_string(s.pixels),
            statisticsNumber(s.retardanceMeanNm),
            statisticsNumber(s.retardanceSdNm),
            statisticsNumber(s.sinDMean),
            statisticsNumber(s.orientationMeanDeg),
            statisticsNumber(s.orientationSpreadDeg),
            statisticsNumber(s.transmissionMeanPct)};
}

std::string regionText(const MapRegion& region) {
    return joined(regionFields(region), ',');
}

std::string statisticsClipboardText(const MapRegion& region, const RegionStatistics& stats) {
    return joined(concatenated(kEdgeColumns, statisticsColumns()), '\t') + '\n' +
           joined(concatenated(regionFields(region), statisticsValues(stats)), '\t') + '\n';
}

std::string frameStatisticsHeader() {
    return joined(concatenated({"frame", "time_s"}, statisticsColumns()), ',') + '\n';
}

std::string frameStatisticsRow(int frame, double timeS, const RegionStatistics& stats) {
    return joined(concatenated({std::to_string(frame), statisticsNumber(timeS)}, statisticsValues(stats)),
                  ',') +
           '\n';
}

std::string statisticsLogCsv(const std::vector<StatisticsLogEntry>& entries) {
    std::string csv =
        joined(concatenated(concatenated({"time"}, kEdgeColumns), statisticsColumns()), ',') + '\n';
    for (const StatisticsLogEntry& e : entries) {
        // The time is the program's own ISO text: it holds no comma or quote to escape.
        csv += joined(concatenated(concatenated({e.time}, regionFields(e.region)), statisticsValues(e.stats)),
                      ',') +
               '\n';
    }
    return csv;
}

} // namespace kestrane
