// Escape steps per second on three fixed views, of
//  - the one-point reference (escCount, one pixel at a time), one thread;
//  - the vector kernel without the exact cycle check, one thread;
//  - the vector kernel with it, one thread;
//  - the vector kernel with it on every core: one std::thread per core, each
//    taking the next column and computing it with computeColumns, as the
//    program's worker pool does.
// "Steps" are always the reference's: a pixel that escapes at step n costs
// n + 1, one that never escapes rep + 1, so the steps the cycle check skips
// show as a higher rate. Every variant computes the same columns of a view
// (every 20th column of the inside-heavy view, where the reference would take
// too long), so the rates compare directly; the summary at the end prints
// them with kernel / reference and all cores / reference per view. Rates are
// taken over wall-clock time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <utility>
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

// Reference steps over the scene's columns.
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

// The scene's columns, one call per column, on `threads` threads that each
// take the next column not yet taken. Each thread writes every column into
// the same 801 counts of its own, as the first benchmark did, so that the
// rates measure the computation rather than stores to a picture-sized grid.
void computeScene(const Scene& sc, const std::vector<int>& cols, ColumnFn fn, unsigned threads) {
    std::atomic<size_t> next{0};
    auto work = [&] {
        int32_t out[core::kPicSide];
        for (size_t i = next.fetch_add(1); i < cols.size(); i = next.fetch_add(1)) {
            fn(sc.view, core::kEscLim, sc.rep, cols[i], 1, out);
            benchmark::DoNotOptimize(out);
        }
        benchmark::ClobberMemory();
    };
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) {
        helpers.emplace_back(work);
    }
    work();
    for (std::thread& t : helpers) {
        t.join();
    }
}

struct Variant {
    const char* name;
    ColumnFn fn;
    bool allCores;
};

const Variant kVariants[] = {
    {"reference", core::referenceColumns, false},
    {"kernel", core::computeColumnsWithoutCycleCheck, false},
    {"kernel+cycles", core::computeColumns, false},
    {"all-cores+cycles", core::computeColumns, true},
};

unsigned coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

void runScene(benchmark::State& state, const Scene& sc, const Variant& v, double steps) {
    const std::vector<int> cols = columnsOf(sc);
    const unsigned threads = v.allCores ? coreCount() : 1;
    for (auto _ : state) {
        computeScene(sc, cols, v.fn, threads);
    }
    state.counters["steps"] =
        benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
}

// Console output as usual, plus the steps/s of every run, over wall-clock
// time, kept for the summary.
class RateReporter : public benchmark::ConsoleReporter {
public:
    explicit RateReporter(std::map<std::string, double> steps) : steps_(std::move(steps)) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& r : reports) {
            const auto it = steps_.find(r.run_name.function_name);
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && it != steps_.end() &&
                r.real_accumulated_time > 0.0) {
                rates[it->first] =
                    it->second * static_cast<double>(r.iterations) / r.real_accumulated_time;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    std::map<std::string, double> rates;  // benchmark name -> steps/s

private:
    std::map<std::string, double> steps_;  // benchmark name -> steps per iteration
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::map<std::string, double> stepsByName;
    for (const Scene& sc : kScenes) {
        const double steps = stepsOf(sc);
        for (const Variant& v : kVariants) {
            const std::string name = std::string(v.name) + "/" + sc.name;
            stepsByName[name] = steps;
            benchmark::RegisterBenchmark(
                name.c_str(),
                [&sc, &v, steps](benchmark::State& st) { runScene(st, sc, v, steps); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    std::printf("kernel target: %s, cores: %u\n", core::kernelTargetName(), coreCount());
    RateReporter reporter(stepsByName);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto rate = [&](const char* variant, const Scene& sc) {
        const auto it = reporter.rates.find(std::string(variant) + "/" + sc.name);
        return it == reporter.rates.end() ? 0.0 : it->second;
    };
    // Rates and ratios of the runs not filtered out; "-" for the others.
    auto cell = [](double v, const char* fmt) {
        static char buf[32];
        if (v > 0.0) {
            std::snprintf(buf, sizeof buf, fmt, v);
        } else {
            std::snprintf(buf, sizeof buf, "-");
        }
        return std::string(buf);
    };
    std::printf("\nreference steps per second; kernel and kernel+cyc on one core, all+cyc on %u\n",
                coreCount());
    std::printf("%-13s %11s %11s %11s %11s %9s %9s\n", "view", "reference", "kernel", "kernel+cyc",
                "all+cyc", "kern/ref", "all/ref");
    for (const Scene& sc : kScenes) {
        const double ref = rate("reference", sc);
        const double ker = rate("kernel", sc);
        const double cyc = rate("kernel+cycles", sc);
        const double all = rate("all-cores+cycles", sc);
        std::printf("%-13s %11s %11s %11s %11s %9s %9s\n", sc.name, cell(ref, "%.4g").c_str(),
                    cell(ker, "%.4g").c_str(), cell(cyc, "%.4g").c_str(), cell(all, "%.4g").c_str(),
                    cell(ref > 0.0 ? ker / ref : 0.0, "%.2fx").c_str(),
                    cell(ref > 0.0 ? all / ref : 0.0, "%.2fx").c_str());
    }
    return 0;
}
