#include "bench_options.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <string>
#include <vector>

namespace {

// The targets of an AVX-512 machine, and of others, best first.
const std::vector<int64_t> kAvx512 = {HWY_AVX3, HWY_AVX2, HWY_SSE4, HWY_SSSE3, HWY_SCALAR};
const std::vector<int64_t> kAvx2 = {HWY_AVX2, HWY_SSE4, HWY_SCALAR};
const std::vector<int64_t> kSse4 = {HWY_SSE4, HWY_SCALAR};

TEST(BenchOptions, PickTargets) {
    struct Row {
        const char* what;
        std::string wanted;
        std::vector<int64_t> supported, picked;
    };
    const Row rows[] = {
#if HWY_ARCH_X86
        {"default on AVX-512: also AVX2", "", kAvx512, {HWY_AVX3, HWY_AVX2}},
        {"default on AVX2", "", kAvx2, {HWY_AVX2}},
        {"default below AVX2: the best only", "", kSse4, {HWY_SSE4}},
#endif
        {"one named", "AVX2", kAvx512, {HWY_AVX2}},
        {"two named, in the machine's order", "SSE4,AVX3", kAvx512, {HWY_AVX3, HWY_SSE4}},
        {"all", "all", kAvx2, kAvx2},
        {"not on this machine", "AVX3", kAvx2, {}},
        {"no part of a name", "AVX", kAvx512, {}},
        {"unknown", "NEON", kAvx512, {}},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(bench::pickTargets(r.wanted, r.supported), r.picked) << r.what;
    }
}

TEST(BenchOptions, TakeOptionsLeavesTheRest) {
    std::string args[] = {"quarlo_bench",   "--benchmark_filter=kernel",
                          "--targets=AVX2", "--cpu_rates",
                          "--groups=8",     "--benchmark_repetitions=5"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(),
                    args[3].data(), args[4].data(), args[5].data()};
    int argc = 6;
    const bench::Options o = bench::takeOptions(argc, argv);
    EXPECT_EQ(o.targets, "AVX2");
    EXPECT_TRUE(o.cpuTime);
    EXPECT_EQ(o.groups, 8);
    ASSERT_EQ(argc, 3);
    EXPECT_STREQ(argv[0], "quarlo_bench");
    EXPECT_STREQ(argv[1], "--benchmark_filter=kernel");
    EXPECT_STREQ(argv[2], "--benchmark_repetitions=5");

    std::string none[] = {"quarlo_bench", "--cpu_rates_please"};
    char* argv2[] = {none[0].data(), none[1].data()};
    int argc2 = 2;
    const bench::Options o2 = bench::takeOptions(argc2, argv2);
    EXPECT_EQ(o2.targets, "");
    EXPECT_FALSE(o2.cpuTime);
    EXPECT_EQ(o2.groups, 0);
    EXPECT_EQ(argc2, 2);
}

TEST(BenchOptions, Median) {
    struct Row {
        std::vector<double> values;
        double median;
    };
    const Row rows[] = {
        {{}, 0.0},
        {{3.0}, 3.0},
        {{5.0, 1.0, 3.0}, 3.0},
        {{4.0, 1.0, 3.0, 2.0}, 2.5},
        {{9.0, 1.0, 1.0, 1.0, 9.0}, 1.0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(bench::median(r.values), r.median);
    }
}

}  // namespace
