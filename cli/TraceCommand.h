// kestrane-analyse --trace: the points that continuous playback of a movie plots for a region, as CSV.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

inline constexpr const char* kTraceUsage =
    "usage: kestrane-analyse --trace=LEFT,TOP,RIGHT,BOTTOM [--quantity=sind|extinction|transmission] "
    "[--maxsin=0.2|0.4|0.6|0.8|1.0] [--timestep=0.035|0.1] [--] MOVIE.avi OUT.csv";

// True when the arguments ask for a trace (an option --trace=…, before any "--").
bool isTraceCommand(const std::vector<std::string>& args);

// Runs `--trace=LEFT,TOP,RIGHT,BOTTOM [--quantity=sind|extinction|transmission] [--maxsin=…]
// [--timestep=0.035|0.1] [--] MOVIE.avi OUT.csv`. Returns 0 on success, 2 for bad input or an OUT.csv that
// is the movie (one line on `err`, OUT.csv as it was before).
int runTraceCommand(const std::vector<std::string>& args, std::ostream& err);

} // namespace kestrane
