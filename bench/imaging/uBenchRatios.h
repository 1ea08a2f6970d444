#pragma once

// Runs the registered benchmarks with the console output, then prints each measured time
// as a ratio to a reference measured in the same run (medians of the repetitions).

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

struct TRatio {
    std::string Name;      // benchmark name (as given to ->Name())
    std::string Reference; // the benchmark it is divided by
    double Goal = 0;       // > 0: the ratio it should stay within
};

// Repetitions, real time in milliseconds, medians only: the settings every benchmark here uses.
benchmark::internal::Benchmark* Configure(benchmark::internal::Benchmark* ABench);

int RunWithRatios(int AArgc, char** AArgv, const std::string& ATitle,
                  const std::vector<TRatio>& ARatios);
