// Shared main for the benchmark programs. Benchmarks are named
// "<case>/<implementation>", where the implementation is "corvane" for this
// library and the peer's name otherwise ("openssl", "gmp"). Each runs with
// repetitions; after the run this main pairs the medians of every case and
// prints how fast Corvane is relative to each peer (peer time / our time,
// so 1.00x means equal speed and above 1 means Corvane is faster). The
// times paired are wall-clock times, or the process's CPU times when
// CORVANE_BENCH_CPU_TIME=1 (steadier on a machine shared with other work,
// for these single-threaded measurements).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

class MedianCollector : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                // The implementation is the last part of the function name;
                // arguments (if any) belong to the case.
                const std::string& fn = run.run_name.function_name;
                auto slash = fn.rfind('/');
                if (slash == std::string::npos) continue;
                std::string caseName = fn.substr(0, slash);
                if (!run.run_name.args.empty()) caseName += "/" + run.run_name.args;
                medians_[caseName][fn.substr(slash + 1)] = cpuTime_ ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintRatios() const {
        std::printf("\nMedian speed ratios (peer %s time / corvane time; > 1 means corvane is faster)\n",
                    cpuTime_ ? "CPU" : "wall-clock");
        for (const auto& [caseName, impls] : medians_) {
            auto ours = impls.find("corvane");
            if (ours == impls.end() || ours->second <= 0) continue;
            for (const auto& [impl, time] : impls) {
                if (impl == "corvane") continue;
                std::printf("ratio %-40s corvane vs %-8s %6.2fx\n", caseName.c_str(), impl.c_str(),
                            time / ours->second);
            }
        }
    }

private:
    // case -> implementation -> median time
    std::map<std::string, std::map<std::string, double>> medians_;
    const bool cpuTime_ = [] {
        const char* v = std::getenv("CORVANE_BENCH_CPU_TIME");
        return v != nullptr && std::string(v) == "1";
    }();
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args(argv, argv + argc);
    // Medians need repetitions; callers may still override on the command line.
    std::string reps = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, aggregates.data());
    args.insert(args.begin() + 1, reps.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
