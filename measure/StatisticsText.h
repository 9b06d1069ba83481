// The region statistics as text: the tab-separated lines "Copy" puts on the clipboard, the CSV of the log and
// of kestrane-analyse --stats.
#pragma once

#include "measure/RegionStatistics.h"

#include <string>
#include <vector>

namespace kestrane {

// The names of the statistics' columns, in order: pixels, retardance_mean_nm, … transmission_mean_pct.
const std::vector<std::string>& statisticsColumns();

// A number as the files write it: general format, a point for decimals whatever the locale, up to ten
// significant digits; empty for NaN (no value), "inf" for an infinite spread.
std::string statisticsNumber(double value);

// The values of the statistics, one per column.
std::vector<std::string> statisticsValues(const RegionStatistics& stats);

// A region as LEFT,TOP,RIGHT,BOTTOM, as --stats takes it.
std::string regionText(const MapRegion& region);

// Two lines, header and values, tab-separated: the region's edges, then the statistics.
std::string statisticsClipboardText(const MapRegion& region, const RegionStatistics& stats);

// kestrane-analyse --stats: the header line and one row per frame.
std::string frameStatisticsHeader();
std::string frameStatisticsRow(int frame, double timeS, const RegionStatistics& stats);

// One row of the "Measure" page's log: when it was taken (local time, as the operator reads it), where, and
// what.
struct StatisticsLogEntry {
    std::string time;
    MapRegion region;
    RegionStatistics stats;
};

// The log as CSV: time,left,top,right,bottom and the statistics' columns, one row per entry.
std::string statisticsLogCsv(const std::vector<StatisticsLogEntry>& entries);

} // namespace kestrane
