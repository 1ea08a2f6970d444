#include "uBenchRatios.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define STDOUT_FILENO 1
#else
#include <unistd.h>
#endif

namespace {

class TCollector : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: a reporter of our own does not see --benchmark_color.
    TCollector() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& ARuns) override {
        for (const Run& run : ARuns) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            if (run.run_type != Run::RT_Aggregate) {
                FMedian.emplace(name, run.GetAdjustedCPUTime()); // kept only if no aggregates
                FMin.emplace(name, run.GetAdjustedCPUTime());
            } else if (run.aggregate_name == "median") {
                FMedian[name] = run.GetAdjustedCPUTime();
            } else if (run.aggregate_name == "min") {
                FMin[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(ARuns);
    }
    std::map<std::string, double> FMedian, FMin;
};

} // namespace

benchmark::internal::Benchmark* Configure(benchmark::internal::Benchmark* ABench) {
    return ABench->Unit(benchmark::kMillisecond)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("min", [](const std::vector<double>& AV) {
            return *std::min_element(AV.begin(), AV.end());
        });
}

int RunWithRatios(int AArgc, char** AArgv, const std::string& ATitle,
                  const std::vector<TRatio>& ARatios) {
    // Repetitions of all benchmarks run interleaved in random order, so that a burst of
    // load on the machine does not fall on one benchmark only.
    std::vector<char*> args(AArgv, AArgv + AArgc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    const bool given = std::any_of(args.begin(), args.end(), [](const char* AArg) {
        return std::strncmp(AArg, "--benchmark_enable_random_interleaving", 38) == 0;
    });
    if (!given)
        args.insert(args.begin() + 1, interleave);
    int argc = static_cast<int>(args.size());
    benchmark::Initialize(&argc, args.data());
    if (benchmark::ReportUnrecognizedArguments(argc, args.data()))
        return 1;
    TCollector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    benchmark::Shutdown();

    std::printf("\n%s: time / reference time, both measured in this run\n", ATitle.c_str());
    std::printf("  %-40s %-30s %8s %8s %6s %8s %8s %6s\n", "", "reference", "median", "ref",
                "ratio", "min", "ref", "ratio");
    int missed = 0;
    for (const TRatio& r : ARatios) {
        const auto a = collector.FMedian.find(r.Name), b = collector.FMedian.find(r.Reference);
        const auto c = collector.FMin.find(r.Name), d = collector.FMin.find(r.Reference);
        if (a == collector.FMedian.end() || b == collector.FMedian.end() ||
            c == collector.FMin.end() || d == collector.FMin.end())
            continue; // filtered out
        const double ratio = a->second / b->second, minRatio = c->second / d->second;
        std::printf("  %-40s %-30s %8.2f %8.2f %6.2f %8.2f %8.2f %6.2f", r.Name.c_str(),
                    r.Reference.c_str(), a->second, b->second, ratio, c->second, d->second,
                    minRatio);
        if (r.Goal > 0) {
            const bool met = ratio <= r.Goal;
            missed += !met;
            std::printf("  goal <= %.2f: %s", r.Goal, met ? "met" : "MISSED");
        }
        std::printf("\n");
    }
    std::printf("  (process CPU times in ms; the goal is judged on the medians)\n");
    std::fflush(stdout);
    return missed == 0 ? 0 : 2;
}
