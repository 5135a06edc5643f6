// Escape steps per second of the one-point reference (escCount, one pixel at
// a time) and of the vector kernel, one thread each, on three fixed views.
// A pixel that escapes at step n executed n + 1 steps; one that never
// escapes executed rep + 1. Both sides compute the same columns of a view
// (every 20th column of the inside-heavy view, where the reference would
// take too long), one column per call, so their rates compare directly; the
// summary at the end prints kernel / reference per view.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "core/esccount.h"
#include "core/kernel.h"
#include "core/kernel_dispatch.h"

namespace {

struct Scene {
    const char* name;
    core::View view;
    int32_t rep;
    int colStride;  // every colStride-th column, starting at 0
};

const Scene kScenes[] = {
    {"default", {0.0, 0.0, 2.0}, 256, 1},
    {"boundary", {-0.743643887037151, 0.131825904205330, 0.0001}, 5000, 1},
    {"inside-heavy", {-0.75, 0.1, 0.05}, 10000, 20},
};

std::vector<int> columnsOf(const Scene& sc) {
    std::vector<int> cols;
    for (int col = 0; col < core::kPicSide; col += sc.colStride) {
        cols.push_back(col);
    }
    return cols;
}

// Steps executed over the scene's columns, from the reference counts.
double stepsOf(const Scene& sc) {
    std::vector<int32_t> out(core::kPicSide);
    double steps = 0.0;
    for (int col : columnsOf(sc)) {
        core::referenceColumns(sc.view, core::kEscLim, sc.rep, col, 1, out.data());
        for (int32_t n : out) {
            steps += n <= sc.rep ? n + 1.0 : sc.rep + 1.0;
        }
    }
    return steps;
}

using ColumnFn = core::SweepFault (*)(const core::View&, double, int32_t, int, int, int32_t*);

void runScene(benchmark::State& state, const Scene& sc, double steps, ColumnFn fn) {
    const std::vector<int> cols = columnsOf(sc);
    std::vector<int32_t> out(core::kPicSide);
    for (auto _ : state) {
        for (int col : cols) {
            fn(sc.view, core::kEscLim, sc.rep, col, 1, out.data());
            benchmark::DoNotOptimize(out.data());
        }
        benchmark::ClobberMemory();
    }
    state.counters["steps"] =
        benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
}

// Console output as usual, plus the steps/s of every run kept for the summary.
class RateReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& r : reports) {
            const auto it = r.counters.find("steps");
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && it != r.counters.end()) {
                rates[r.run_name.function_name] = it->second.value;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    std::map<std::string, double> rates;  // benchmark name -> steps/s
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    for (const Scene& sc : kScenes) {
        const double steps = stepsOf(sc);
        benchmark::RegisterBenchmark(
            (std::string("reference/") + sc.name).c_str(),
            [&sc, steps](benchmark::State& st) { runScene(st, sc, steps, core::referenceColumns); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            (std::string("kernel/") + sc.name).c_str(),
            [&sc, steps](benchmark::State& st) { runScene(st, sc, steps, core::computeColumns); })
            ->Unit(benchmark::kMillisecond);
    }
    std::printf("kernel target: %s\n", core::kernelTargetName());
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-14s %16s %16s %8s\n", "view", "reference st/s", "kernel st/s", "ratio");
    for (const Scene& sc : kScenes) {
        const auto ref = reporter.rates.find(std::string("reference/") + sc.name);
        const auto ker = reporter.rates.find(std::string("kernel/") + sc.name);
        if (ref == reporter.rates.end() || ker == reporter.rates.end()) {
            continue;  // filtered out
        }
        std::printf("%-14s %16.4g %16.4g %7.2fx\n", sc.name, ref->second, ker->second,
                    ker->second / ref->second);
    }
    return 0;
}
