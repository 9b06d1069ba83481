// kestrane-analyse: the headless analysis of recorded frames, for scripted and batch work.
#include "cli/AnalyseCommand.h"
#include "cli/Options.h"

#include <iostream>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (kestrane::answerHelpOrVersion(args, std::cout)) {
        return std::cout.flush() ? 0 : 1;
    }
    // A run stopped with Ctrl-C leaves no temporary file next to its outputs.
    kestrane::removePendingOutputOnSignal();
    return kestrane::runAnalyseCommand(args, std::cerr);
}
