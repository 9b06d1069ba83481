// kestrane-analyse --trace: the points that continuous playback of a movie plots for a region, as CSV.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// True when the arguments ask for a trace (an argument --trace=…).
bool isTraceCommand(const std::vector<std::string>& args);

// Runs `--trace=LEFT,TOP,RIGHT,BOTTOM [--quantity=sind|extinction|transmission] [--maxsin=…]
// [--timestep=0.035|0.1] MOVIE.avi OUT.csv`. Returns 0 on success, 2 for bad input (one line on `err`, no
// OUT.csv written).
int runTraceCommand(const std::vector<std::string>& args, std::ostream& err);

} // namespace kestrane
