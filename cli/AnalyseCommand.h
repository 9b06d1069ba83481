// kestrane-analyse as a function: the dispatch to its commands and its --help and --version.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace kestrane {

// Runs the command with its arguments (without the program name): --clip=… writes a clip, --trace=… a trace,
// anything else the maps. Returns the exit status: 0 on success, 2 for a bad option, an unreadable input, an
// input not 640 x 480 without --any-size or an output that is an input (one line on `err`, nothing written),
// or an output that cannot be written (the file keeps its old content).
int runAnalyseCommand(const std::vector<std::string>& args, std::ostream& err);

// When the arguments hold --help or --version, writes that text to `out` and returns true; the program then
// exits without analysing anything.
bool answerHelpOrVersion(const std::vector<std::string>& args, std::ostream& out);

} // namespace kestrane
