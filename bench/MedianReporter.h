// The console table of a benchmark run, with each benchmark's median remembered for the ratios a program
// prints at its end.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

// Remembers each benchmark's median (or its single run) in real and in CPU time (the latter is not inflated
// while other processes hold the processor), by its name without the repetition and aggregate suffixes.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const std::string name =
                r.run_name.function_name + (r.run_name.args.empty() ? "" : "/" + r.run_name.args);
            const bool median = r.run_type == Run::RT_Aggregate && r.aggregate_name == "median";
            if (median || (r.run_type == Run::RT_Iteration && medians.count(name) == 0)) {
                medians[name] = r.GetAdjustedRealTime();
                cpuMedians[name] = r.GetAdjustedCPUTime();
            }
        }
    }
    std::map<std::string, double> medians;
    std::map<std::string, double> cpuMedians;
};
