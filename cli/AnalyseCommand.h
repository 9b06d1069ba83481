// The headless analysis behind kestrane-analyse: frames from files in, maps as files out.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// Runs the command with its arguments (without the program name). Returns the exit status: 0 on success,
// 2 for a bad option, an unreadable input, an input not 640 x 480 without --any-size or an output that is an
// input (one line on `err`, nothing written), or an output that cannot be written (the file keeps its old
// content).
int runAnalyseCommand(const std::vector<std::string>& args, std::ostream& err);

// When the arguments hold --help or --version, writes that text to `out` and returns true; the program then
// exits without analysing anything.
bool answerHelpOrVersion(const std::vector<std::string>& args, std::ostream& out);

} // namespace kestrane
