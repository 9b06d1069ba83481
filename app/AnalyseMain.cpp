// kestrane-analyse: the headless analysis of recorded frames, for scripted and batch work.
#include "app/AnalyseCommand.h"

#include <iostream>

int main(int argc, char** argv) {
    return kestrane::runAnalyseCommand(std::vector<std::string>(argv + 1, argv + argc), std::cerr);
}
