// What every bench program shares: the median of repeated samples, and the one line per figure
// that ./dev bench gathers into its table ("row|figure|value|floor|ratio|goal|met").
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace orvix::bench {

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The value at fraction q (0..1) of the sorted samples, nearest rank.
inline double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t rank = static_cast<size_t>(q * static_cast<double>(values.size()));
    return values[std::min(rank, values.size() - 1)];
}

inline std::string Fixed(double value, int digits) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.*f", digits, value);
    return text;
}

// met is "yes", "no" or "-" for a figure without a goal to judge.
inline void PrintRow(const std::string& figure, const std::string& value, const std::string& floor,
                     const std::string& ratio, const std::string& goal, const std::string& met) {
    std::printf("row|%s|%s|%s|%s|%s|%s\n", figure.c_str(), value.c_str(), floor.c_str(),
                ratio.c_str(), goal.c_str(), met.c_str());
    std::fflush(stdout);
}

// A figure beside its floor, judged by value / floor against limit: at most the limit when
// less is better (times), at least when more is (rates). A paired ratio (the median of ratios
// taken within each repetition) may be given instead of value / floor.
inline void PrintRatioRow(const std::string& figure, double value, double floor, int digits,
                          double limit, bool lessIsBetter, double pairedRatio = -1) {
    const double ratio = pairedRatio >= 0 ? pairedRatio : floor > 0 ? value / floor : 0;
    const bool met = floor > 0 && (lessIsBetter ? ratio <= limit : ratio >= limit);
    char goal[32];
    std::snprintf(goal, sizeof(goal), "%s %g x floor", lessIsBetter ? "<=" : ">=", limit);
    PrintRow(figure, Fixed(value, digits), Fixed(floor, digits), Fixed(ratio, 2), goal,
             met ? "yes" : "no");
}

// The console output as usual, and every repetition's counters kept by benchmark and counter
// name, so that the rows can take medians over repetitions that ran interleaved.
class Collector : public benchmark::ConsoleReporter {
public:
    // Without colour: the output goes to a log file.
    Collector() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
            for (const auto& counter : run.counters) {
                mSamples[run.run_name.function_name][counter.first].push_back(counter.second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    double median(const std::string& benchmark, const std::string& counter) const {
        return Median(samples(benchmark, counter));
    }
    // One value per repetition.
    std::vector<double> samples(const std::string& benchmark, const std::string& counter) const {
        auto b = mSamples.find(benchmark);
        if (b == mSamples.end()) return {};
        auto c = b->second.find(counter);
        return c == b->second.end() ? std::vector<double>() : c->second;
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> mSamples;
};

// Runs every registered benchmark with its repetitions interleaved in random order, so that a
// burst of load from outside lands on figures and floors alike.
inline void RunInterleaved(int argc, char** argv, Collector* collector) {
    std::vector<char*> args(argv, argv + argc);
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    benchmark::RunSpecifiedBenchmarks(collector);
    benchmark::Shutdown();
}

}  // namespace orvix::bench
