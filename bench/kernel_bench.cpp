// Escape steps per second on three fixed views, of
//  - the one-point reference (escCount, one pixel at a time), one thread;
//  - the vector kernel without the exact cycle check, one thread;
//  - the vector kernel with it, one thread;
//  - the vector kernel with it on every core: one std::thread per core, each
//    taking the next block of columns and computing it with computeColumns,
//    as the program's worker pool does (one thread takes blocks the same way);
// and the step ceiling (core::stepCeiling): independent chains of the bare
// step with no exits, the most any kernel doing this step can reach, on one
// core and on every core; and on one core the same with the count kept under
// the mask of running lanes, as the kernel keeps it.
// "Steps" are always the reference's: a pixel that escapes at step n costs
// n + 1, one that never escapes rep + 1, so the steps the cycle check skips
// show as a higher rate. Every variant computes the same columns of a view
// (every 20th column of the inside-heavy view, where the reference would take
// too long), so the rates compare directly. Rates are taken over wall-clock
// time; with --cpu_rates the one-thread ones over the process's CPU time,
// which a machine shared with other work disturbs less. With
// --benchmark_repetitions the summary takes the median of each (and
// --benchmark_enable_random_interleaving spreads a change of load over all).
//
// The kernel and the ceiling run on each instruction set picked with
// --targets=AVX3,AVX2 (Highway's names; "all" for every one the machine runs).
// By default: the best one and, on x86, every other one down to AVX2, so that
// an AVX-512 machine also reports what an AVX2 machine would. Each target's
// summary puts every kernel rate beside that target's own ceiling.
// --groups=N runs the kernel with N vectors in flight (up to the target's
// most: 8 with AVX-512, 4 otherwise) instead of as many as it picks.
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_options.h"
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

// The kernel's vectors in flight (--groups; 0: as computeColumns picks).
int gGroups = 0;

core::SweepFault kernelWithCycles(const core::View& v, double lim, int32_t rep, int col0, int ncols,
                                  int32_t* out) {
    return core::computeColumnsWithGroups(gGroups, true, v, lim, rep, col0, ncols, out);
}

core::SweepFault kernelWithoutCycles(const core::View& v, double lim, int32_t rep, int col0,
                                     int ncols, int32_t* out) {
    return core::computeColumnsWithGroups(gGroups, false, v, lim, rep, col0, ncols, out);
}

unsigned coreCount() {
    return std::max(1u, std::thread::hardware_concurrency());
}

// Runs work() on `threads` threads at once, this one included. The helper
// threads live as long as the process, as the program's pool does: starting
// threads for every pass would cost a few percent of a short view.
class Helpers {
public:
    template <typename Work>
    void run(unsigned threads, const Work& work) {
        const unsigned helpers = threads - 1;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (threads_.size() < helpers) {
                threads_.emplace_back([this, n = threads_.size()] { loop(n); });
            }
            work_ = work;
            wanted_ = helpers;
            pending_ = helpers;
            ++generation_;
        }
        wake_.notify_all();
        work();
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return pending_ == 0; });
    }

    ~Helpers() {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) {
            t.join();
        }
    }

private:
    void loop(size_t index) {
        uint64_t seen = 0;
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
                if (stop_) {
                    return;
                }
                seen = generation_;
                if (index >= wanted_) {
                    continue;
                }
                work = work_;
            }
            work();
            std::unique_lock<std::mutex> lock(mutex_);
            if (--pending_ == 0) {
                done_.notify_all();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::thread> threads_;
    std::function<void()> work_;
    uint64_t generation_ = 0;
    size_t wanted_ = 0;
    size_t pending_ = 0;
    bool stop_ = false;
};

template <typename Work>
void onThreads(unsigned threads, const Work& work) {
    static Helpers helpers;
    helpers.run(threads, work);
}

// The scene's columns on `threads` threads that each take the next columns
// not yet taken, as the program's worker pool does: consecutive columns in
// blocks of core::columnsPerCall, one call a block; one column a call where
// the scene skips columns. Each thread writes every block into the same
// counts of its own, as the first benchmark did, so that the rates measure
// the computation rather than stores to a picture-sized grid.
void computeScene(const Scene& sc, const std::vector<int>& cols, ColumnFn fn, unsigned threads) {
    std::atomic<size_t> next{0};
    onThreads(threads, [&] {
        std::vector<int32_t> out(static_cast<size_t>(core::kPicSide) * core::kMostColumnsPerCall);
        for (;;) {
            size_t i = next.load(std::memory_order_relaxed);
            size_t n = 0;
            do {
                if (i >= cols.size()) {
                    break;
                }
                n = sc.colStride == 1 ? static_cast<size_t>(core::columnsPerCall(
                                            static_cast<int>(cols.size() - i), threads))
                                      : 1;
            } while (!next.compare_exchange_weak(i, i + n, std::memory_order_relaxed));
            if (i >= cols.size()) {
                break;
            }
            fn(sc.view, core::kEscLim, sc.rep, cols[i], static_cast<int>(n), out.data());
            benchmark::DoNotOptimize(out.data());
        }
        benchmark::ClobberMemory();
    });
}

struct Variant {
    const char* name;
    ColumnFn fn;
    bool allCores;
};

const Variant kReference{"reference", core::referenceColumns, false};
const Variant kKernelVariants[] = {
    {"kernel", kernelWithoutCycles, false},
    {"kernel+cycles", kernelWithCycles, false},
    {"all-cores+cycles", kernelWithCycles, true},
};

// Chain counts tried for the ceiling; its rate is the best of them.
const int kCeilingChains[] = {4, 5, 6, 8};
// Steps of each chain per call: long enough that the call's set-up, and on
// every core the start of the threads, is noise (a few milliseconds).
constexpr int64_t kCeilingSteps = int64_t{1} << 18;

// Puts the kernel on one target for its lifetime (0: the best one).
class OnTarget {
public:
    explicit OnTarget(int64_t target) {
        if (target != 0) {
            hwy::SetSupportedTargetsForTest(target);
        }
    }
    ~OnTarget() { hwy::SetSupportedTargetsForTest(0); }
};

double threadSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A one-thread kernel run and the ceiling measured in turn with it: after
// each pass over the scene, the ceiling runs as many steps, with the chain
// counts in rotation. Both are timed on this thread's CPU clock, so a change
// of the machine's speed during the run (another tenant, the clock) weighs
// on both alike.
struct Paired {
    double kernelSeconds = 0.0;
    double kernelSteps = 0.0;
    std::map<int, std::pair<double, double>> ceiling;  // chains -> (steps, seconds)

    double share() const {
        double best = 0.0;
        for (const auto& [chains, c] : ceiling) {
            best = std::max(best, c.second > 0.0 ? c.first / c.second : 0.0);
        }
        return kernelSeconds > 0.0 && best > 0.0 ? kernelSteps / kernelSeconds / best : 0.0;
    }
};
std::map<std::string, Paired> gPaired;  // benchmark name -> its pairing

void runScene(benchmark::State& state, const Scene& sc, const Variant& v, int64_t target,
              double steps, const std::string& name) {
    OnTarget on(target);
    const std::vector<int> cols = columnsOf(sc);
    const unsigned threads = v.allCores ? coreCount() : 1;
    const bool pair = !v.allCores && target != 0;
    Paired& p = gPaired[name];
    size_t turn = 0;
    for (auto _ : state) {
        const double t0 = threadSeconds();
        computeScene(sc, cols, v.fn, threads);
        if (!pair) {
            continue;
        }
        const double t1 = threadSeconds();
        state.PauseTiming();
        const int chains = kCeilingChains[turn++ % std::size(kCeilingChains)];
        const auto perChain = static_cast<int64_t>(
            steps / static_cast<double>(chains * static_cast<int64_t>(core::kernelLanes())));
        const double t2 = threadSeconds();
        const auto counted = static_cast<double>(core::stepCeiling(chains, perChain));
        const double t3 = threadSeconds();
        state.ResumeTiming();
        p.kernelSeconds += t1 - t0;
        p.kernelSteps += steps;
        p.ceiling[chains].first += counted;
        p.ceiling[chains].second += t3 - t2;
    }
    state.counters["steps"] =
        benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
}

void runCeiling(benchmark::State& state, int chains, unsigned threads, bool mask, int64_t target,
                double steps) {
    OnTarget on(target);
    const auto expected = static_cast<int64_t>(steps / threads);
    for (auto _ : state) {
        std::atomic<bool> allCounted{true};
        onThreads(threads, [&] {
            // Every step of every lane stays within the limit; anything else
            // means the loop did not run as measured.
            if (core::stepCeiling(chains, kCeilingSteps, mask) != expected) {
                allCounted = false;
            }
        });
        if (!allCounted) {
            state.SkipWithError("the ceiling loop miscounted");
            break;
        }
    }
    state.counters["steps"] =
        benchmark::Counter(steps, benchmark::Counter::kIsIterationInvariantRate);
}

// Console output as usual, plus the steps/s of every run and repetition,
// over wall-clock time, kept for the summary.
class RateReporter : public benchmark::ConsoleReporter {
public:
    RateReporter(std::map<std::string, double> steps, bool cpuTime)
        : steps_(std::move(steps)), cpuTime_(cpuTime) {}

    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& r : reports) {
            const auto it = steps_.find(r.run_name.function_name);
            // The process's CPU time counts every thread's: only a
            // one-thread run can be measured by it.
            const bool oneThread = it != steps_.end() && it->first.find("all-cores") != 0;
            const double time =
                cpuTime_ && oneThread ? r.cpu_accumulated_time : r.real_accumulated_time;
            if (r.run_type == Run::RT_Iteration && !r.error_occurred && it != steps_.end() &&
                time > 0.0 && r.real_accumulated_time > 0.0) {
                const double steps = it->second * static_cast<double>(r.iterations);
                rates_[it->first].push_back(steps / time);
                wallRates_[it->first].push_back(steps / r.real_accumulated_time);
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }

    // Median steps/s of a benchmark over its repetitions, 0 if it did not run.
    double rate(const std::string& name) const { return medianOf(rates_, name); }
    // The same over wall-clock time, whatever --cpu_rates says: every core
    // against one compares like with like only on the same clock.
    double wallRate(const std::string& name) const { return medianOf(wallRates_, name); }

private:
    static double medianOf(const std::map<std::string, std::vector<double>>& rates,
                           const std::string& name) {
        const auto it = rates.find(name);
        return it == rates.end() ? 0.0 : bench::median(it->second);
    }

    std::map<std::string, double> steps_;  // name -> steps per iteration
    // name -> steps/s of each repetition, over the chosen and the wall clock
    std::map<std::string, std::vector<double>> rates_;
    std::map<std::string, std::vector<double>> wallRates_;
    bool cpuTime_;
};

std::string cell(double v, const char* fmt) {
    char buf[32];
    if (v > 0.0) {
        std::snprintf(buf, sizeof buf, fmt, v);
    } else {
        std::snprintf(buf, sizeof buf, "-");
    }
    return buf;
}

std::string targetTag(int64_t target) {
    return std::string("/") + hwy::TargetName(target);
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Options options = bench::takeOptions(argc, argv);
    gGroups = options.groups;
    const std::vector<int64_t> targets =
        bench::pickTargets(options.targets, hwy::SupportedAndGeneratedTargets());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (targets.empty()) {
        std::fprintf(stderr, "none of the targets given is supported here\n");
        return 1;
    }
    const unsigned cores = coreCount();
    std::map<std::string, double> stepsByName;
    auto add = [&](const std::string& name, double steps, auto fn) {
        stepsByName[name] = steps;
        benchmark::RegisterBenchmark(name.c_str(), fn)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    };
    for (const Scene& sc : kScenes) {
        const double steps = stepsOf(sc);
        const std::string name = std::string(kReference.name) + "/" + sc.name;
        add(name, steps, [&sc, steps, name](benchmark::State& st) {
            runScene(st, sc, kReference, 0, steps, name);
        });
    }
    for (int64_t target : targets) {
        const std::string tag = targetTag(target);
        for (int chains : kCeilingChains) {
            for (unsigned threads : {1u, cores}) {
                double steps = 0.0;
                {
                    OnTarget on(target);
                    steps = static_cast<double>(chains) * static_cast<double>(core::kernelLanes()) *
                            static_cast<double>(kCeilingSteps) * threads;
                }
                const char* what = threads == 1 ? "ceiling/" : "all-cores-ceiling/";
                add(what + std::to_string(chains) + tag, steps,
                    [chains, threads, target, steps](benchmark::State& st) {
                        runCeiling(st, chains, threads, false, target, steps);
                    });
                if (threads == 1) {
                    add("ceiling+mask/" + std::to_string(chains) + tag, steps,
                        [chains, target, steps](benchmark::State& st) {
                            runCeiling(st, chains, 1, true, target, steps);
                        });
                }
                if (cores == 1) {
                    break;
                }
            }
        }
        for (const Scene& sc : kScenes) {
            const double steps = stepsByName[std::string(kReference.name) + "/" + sc.name];
            for (const Variant& v : kKernelVariants) {
                const std::string name = std::string(v.name) + "/" + sc.name + tag;
                add(name, steps, [&sc, &v, target, steps, name](benchmark::State& st) {
                    runScene(st, sc, v, target, steps, name);
                });
            }
        }
    }
    std::printf("cores: %u; kernel targets:", cores);
    for (int64_t target : targets) {
        OnTarget on(target);
        std::printf(" %s (%zu doubles per vector, %d vectors in flight)", core::kernelTargetName(),
                    core::kernelLanes(), gGroups > 0 ? gGroups : core::kernelGroups());
    }
    std::printf("\n");
    RateReporter reporter(stepsByName, options.cpuTime);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Rates and ratios of the runs not filtered out; "-" for the others.
    // kern%, cyc% and all% are the kernel rates as a share of the ceiling of
    // the same target, all% against the ceiling on every core; cyc/kern is
    // what the cycle check gains (below 1: what it costs), all/cyc how far
    // every core scales over one (both over wall-clock time). kern~% and cyc~% are the one-core
    // kernel rates against the ceiling measured in turn with them (see Paired): the figures to
    // trust on a machine whose speed drifts.
    for (int64_t target : targets) {
        const std::string tag = targetTag(target);
        double ceil1 = 0.0;
        double ceil1Wall = 0.0;
        double ceilAll = 0.0;
        int bestChains = 0;
        for (int chains : kCeilingChains) {
            const std::string one = "ceiling/" + std::to_string(chains) + tag;
            const double r = reporter.rate(one);
            if (r > ceil1) {
                ceil1 = r;
                bestChains = chains;
            }
            ceil1Wall = std::max(ceil1Wall, reporter.wallRate(one));
            ceilAll = std::max(ceilAll,
                               reporter.rate("all-cores-ceiling/" + std::to_string(chains) + tag));
        }
        if (cores == 1) {
            ceilAll = ceil1Wall;
        }
        double ceilMask = 0.0;
        for (int chains : kCeilingChains) {
            ceilMask =
                std::max(ceilMask, reporter.rate("ceiling+mask/" + std::to_string(chains) + tag));
        }
        std::string chainsTried;
        for (int chains : kCeilingChains) {
            chainsTried += (chainsTried.empty() ? "" : ", ") + std::to_string(chains);
        }
        int groups = gGroups;
        if (groups == 0) {
            OnTarget on(target);
            groups = core::kernelGroups();
        }
        std::printf(
            "\n%s: reference steps per second; kernel (%d vectors in flight) and kernel+cyc on "
            "one core, all+cyc on %u; ceiling: best of %s chains (%d)\n",
            hwy::TargetName(target), groups, cores, chainsTried.c_str(), bestChains);
        std::printf("%-13s %11s %11s %11s %11s %9s %9s %6s %6s %6s %8s %7s %6s %6s\n", "view",
                    "reference", "kernel", "kernel+cyc", "all+cyc", "kern/ref", "all/ref", "kern%",
                    "cyc%", "all%", "cyc/kern", "all/cyc", "kern~%", "cyc~%");
        std::printf("%-13s %11s %11s %11s %11s %9s %9s %6s %6s %6s %8s %7s %6s %6s\n", "ceiling",
                    "-", cell(ceil1, "%.4g").c_str(), "-", cell(ceilAll, "%.4g").c_str(), "-", "-",
                    cell(ceil1 > 0.0 ? 100.0 : 0.0, "%.0f").c_str(), "-",
                    cell(ceilAll > 0.0 ? 100.0 : 0.0, "%.0f").c_str(), "-",
                    cell(ceil1Wall > 0.0 ? ceilAll / ceil1Wall : 0.0, "%.2fx").c_str(), "-", "-");
        // The same loop counting under the mask of running lanes, as the
        // kernel must: what is left of the gap below it is the kernel's own.
        std::printf(
            "%-13s %11s %11s %11s %11s %9s %9s %6s %6s %6s %8s %7s %6s %6s\n", "ceiling+mask", "-",
            cell(ceilMask, "%.4g").c_str(), "-", "-", "-", "-",
            cell(ceilMask > 0.0 && ceil1 > 0.0 ? 100.0 * ceilMask / ceil1 : 0.0, "%.0f").c_str(),
            "-", "-", "-", "-", "-", "-");
        for (const Scene& sc : kScenes) {
            const double r = reporter.rate(std::string("reference/") + sc.name);
            const double ker = reporter.rate(std::string("kernel/") + sc.name + tag);
            const double cyc = reporter.rate(std::string("kernel+cycles/") + sc.name + tag);
            const double all = reporter.rate(std::string("all-cores+cycles/") + sc.name + tag);
            const double cycWall = reporter.wallRate(std::string("kernel+cycles/") + sc.name + tag);
            auto ratio = [](double a, double b, const char* fmt) {
                return cell(a > 0.0 && b > 0.0 ? a / b : 0.0, fmt);
            };
            auto percent = [](double a, double b) {
                return cell(a > 0.0 && b > 0.0 ? 100.0 * a / b : 0.0, "%.0f");
            };
            auto paired = [&](const char* variant) {
                const auto it = gPaired.find(std::string(variant) + "/" + sc.name + tag);
                return cell(it == gPaired.end() ? 0.0 : 100.0 * it->second.share(), "%.0f");
            };
            std::printf("%-13s %11s %11s %11s %11s %9s %9s %6s %6s %6s %8s %7s %6s %6s\n", sc.name,
                        cell(r, "%.4g").c_str(), cell(ker, "%.4g").c_str(),
                        cell(cyc, "%.4g").c_str(), cell(all, "%.4g").c_str(),
                        ratio(ker, r, "%.2fx").c_str(), ratio(all, r, "%.2fx").c_str(),
                        percent(ker, ceil1).c_str(), percent(cyc, ceil1).c_str(),
                        percent(all, ceilAll).c_str(), ratio(cyc, ker, "%.3f").c_str(),
                        ratio(all, cycWall, "%.2fx").c_str(), paired("kernel").c_str(),
                        paired("kernel+cycles").c_str());
        }
    }
    return 0;
}
