#include "core/kernel.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/esccount.h"
#include "core/kernel_dispatch.h"
#include "core/view.h"

namespace {

using core::kEscLim;
using core::kPicSide;
using core::SweepFault;
using core::View;

constexpr int32_t kRepMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kUnwritten = -12345;
constexpr size_t kGuard = 64;  // untouchable entries on each side of the block

struct Block {
    View view;
    double lim = kEscLim;
    int32_t rep = 256;
    int col0 = 0;
    int ncols = kPicSide;
};

struct Row {
    const char* name;
    Block b;
};

// Test listings show the row's name, not its bytes.
void PrintTo(const Row& r, std::ostream* os) {
    *os << r.name;
}

// Every instruction set the kernel was built for and this machine runs.
std::vector<int64_t> kernelTargets() {
    return hwy::SupportedAndGeneratedTargets();
}

// Forces the kernel onto one target for its lifetime.
class OnTarget {
public:
    explicit OnTarget(int64_t target) { hwy::SetSupportedTargetsForTest(target); }
    ~OnTarget() { hwy::SetSupportedTargetsForTest(0); }
};

// Sweep position of (col, row) in the block: columns left to right, rows
// 800 down to 0.
size_t sweepPos(const Block& b, int col, int row) {
    return static_cast<size_t>(col - b.col0) * kPicSide + (kPicSide - 1 - row);
}

// Runs the kernel on the block and holds it to the reference: the same
// fault, the same count for every pixel before it in sweep order, and no
// write outside the block.
void expectMatchesReference(const Block& b, const std::vector<int64_t>& targets) {
    const size_t n = static_cast<size_t>(b.ncols) * kPicSide;
    std::vector<int32_t> want(n, kUnwritten);
    const SweepFault wf =
        core::referenceColumns(b.view, b.lim, b.rep, b.col0, b.ncols, want.data());
    const size_t valid = wf.any() ? sweepPos(b, wf.col, wf.row) : n;

    for (int64_t target : targets) {
        OnTarget on(target);
        ASSERT_STREQ(core::kernelTargetName(), hwy::TargetName(target));
        SCOPED_TRACE(hwy::TargetName(target));
        std::vector<int32_t> got(n + 2 * kGuard, kUnwritten);
        int32_t* out = got.data() + kGuard;
        const SweepFault gf = core::computeColumns(b.view, b.lim, b.rep, b.col0, b.ncols, out);
        EXPECT_EQ(gf.col, wf.col);
        EXPECT_EQ(gf.row, wf.row);
        size_t mismatches = 0;
        for (int c = 0; c < b.ncols && mismatches < 5; ++c) {
            for (int row = kPicSide - 1; row >= 0; --row) {
                const size_t i = static_cast<size_t>(c) * kPicSide + row;
                if (sweepPos(b, b.col0 + c, row) < valid && out[i] != want[i]) {
                    ADD_FAILURE() << "pixel " << b.col0 + c << ',' << row << ": " << out[i]
                                  << " instead of " << want[i];
                    ++mismatches;
                }
            }
        }
        for (size_t i = 0; i < kGuard; ++i) {
            ASSERT_EQ(got[i], kUnwritten) << "written before the block";
            ASSERT_EQ(got[kGuard + n + i], kUnwritten) << "written after the block";
        }
    }
}

class KernelMatchesReference : public testing::TestWithParam<Row> {};

TEST_P(KernelMatchesReference, OnEveryTarget) {
    expectMatchesReference(GetParam().b, kernelTargets());
}

const View kStart{0.0, 0.0, 2.0};
const View kSeahorse{-0.743643887037151, 0.131825904205330, 0.0001};

const Row kRows[] = {
    // The start view, whole, at the bounds of the step budget.
    {"start_rep_256", {kStart}},
    {"start_rep_minus_5", {kStart, kEscLim, -5}},
    {"start_rep_0", {kStart, kEscLim, 0}},
    {"start_rep_1", {kStart, kEscLim, 1}},
    {"start_rep_2", {kStart, kEscLim, 2}},
    {"start_rep_15", {kStart, kEscLim, 15, 300, 200}},
    {"start_rep_16", {kStart, kEscLim, 16, 300, 200}},
    {"start_rep_17", {kStart, kEscLim, 17, 300, 200}},
    {"start_rep_40", {kStart, kEscLim, 40, 300, 200}},
    {"start_rep_48", {kStart, kEscLim, 48, 300, 200}},
    {"start_rep_49", {kStart, kEscLim, 49, 300, 200}},
    {"start_rep_1000", {kStart, kEscLim, 1000, 150, 100}},
    {"start_last_column", {kStart, kEscLim, 300, 800, 1}},
    {"start_outside_columns", {kStart, kEscLim, 300, -3, 6}},
    // Deep views on the boundary, where neighbours escape at very different steps.
    {"seahorse_1em4", {kSeahorse, kEscLim, 5000, 380, 12}},
    {"seahorse_1em7", {{-0.743643887037151, 0.131825904205330, 1e-7}, kEscLim, 3000, 100, 16}},
    {"seahorse_1em10", {{-0.743643887037151, 0.131825904205330, 1e-10}, kEscLim, 2000, 500, 16}},
    {"seahorse_1em13", {{-0.743643887037151, 0.131825904205330, 1e-13}, kEscLim, 2000, 0, 16}},
    {"spiral_1em5", {{-0.7746806106269039, -0.1374168856037867, 1e-5}, kEscLim, 2000, 200, 16}},
    {"dendrite_1em8", {{-0.10109636384562, 0.95628651080914, 1e-8}, kEscLim, 1000, 390, 16}},
    {"needle_1em12", {{-1.999985882, 0.0, 1e-12}, kEscLim, 1000, 0, 40}},
    {"bulb_edge_1em6", {{-1.25066, 0.02012, 1e-6}, kEscLim, 3000, 600, 16}},
    {"inside_heavy", {{-0.75, 0.1, 0.05}, kEscLim, 10000, 400, 3}},
    // Degenerate and mirrored views.
    {"size_0_inside", {{-0.5, 0.3, 0.0}, kEscLim, 700, 10, 3}},
    {"size_0_minus_2", {{-2.0, 0.0, 0.0}, kEscLim, 500, 0, 2}},  // |z|^2 stays exactly 4
    {"size_0_plus_2", {{2.0, 0.0, 0.0}, kEscLim, 500, 0, 2}},
    {"negative_size", {{0.0, 0.0, -2.0}, kEscLim, 256, 0, 801}},
    {"negative_size_deep", {{-0.743643887037151, 0.131825904205330, -1e-6}, kEscLim, 2000, 0, 16}},
    {"subnormal_centre", {{0.0, 0.0, 1e-310}, kEscLim, 100, 395, 10}},
    // y starts a few subnormal units from 0 and doubles about every step
    // until the point escapes: (x + x) * y and 2 * (x * y) round apart here.
    {"subnormal_imaginary", {{-1.9, 0.0, 5e-322}, kEscLim, 5000, 0, 4}},
    // Other escape bounds: small, huge (later steps may overflow), not a number.
    {"lim_half", {kStart, 0.5, 100, 0, 200}},
    {"lim_negative", {kStart, -1.0, 100, 0, 5}},
    {"lim_1e150", {kStart, 1e150, 200, 350, 100}},
    {"lim_1e300_overflows_later", {{-0.5, 0.45, 0.1}, 1e300, 200, 0, 4}},  // at step 9 of (0, 511)
    {"lim_nan", {kStart, std::nan(""), 50, 300, 3}},
    // Mapped c or its square outside the double range: a fault at step 0.
    {"centre_1e200", {{1e200, 0.0, 2.0}, kEscLim, 100, 0, 3}},
    {"size_1e300", {{0.0, 0.0, 1e300}, kEscLim, 100, 0, 801}},
    {"size_1e300_centre_column", {{0.0, 0.0, 1e300}, kEscLim, 100, 400, 1}},
    // c = 0 at (400, 400) would overflow the counter, but row 800 comes first.
    {"size_1e300_rep_max", {{0.0, 0.0, 1e300}, kEscLim, kRepMax, 400, 1}},
    {"size_infinite", {{0.0, 0.0, INFINITY}, kEscLim, 100, 0, 3}},
    {"size_nan", {{0.0, 0.0, std::nan("")}, kEscLim, 100, 10, 3}},
    // cx from 0.65e154 to 1.35e154: only the right-hand columns overflow.
    {"partly_overflowing", {{1e154, 0.0, 0.35e154}, kEscLim, 100, 0, 801}},
    // cy from 0 (row 800) to 1e154 (row 0): columns from 155 on overflow
    // below some row, which moves up as cx grows.
    {"overflow_column_end", {{1.2e154, 0.5e154, 0.5e154}, kEscLim, 100, 150, 10}},  // (155, 0)
    {"overflow_mid_column", {{1.2e154, 0.5e154, 0.5e154}, kEscLim, 100, 200, 10}},  // (200, 43)
    {"rep_max_all_escape", {{3.0, 3.0, 0.5}, kEscLim, kRepMax, 0, 801}},
};

INSTANTIATE_TEST_SUITE_P(Views, KernelMatchesReference, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return info.param.name; });

TEST(Kernel, RunsOnEveryTargetItWasBuiltFor) {
    const std::vector<int64_t> targets = kernelTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        OnTarget on(target);
        EXPECT_STREQ(core::kernelTargetName(), hwy::TargetName(target));
    }
    // Back to the best one.
    EXPECT_STREQ(core::kernelTargetName(), hwy::TargetName(targets.front()));
}

TEST(Kernel, RandomViews) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const View anchors[] = {kSeahorse,
                            {-0.1011, 0.9563, 0},
                            {-1.7687788, 0.0017389, 0},
                            {0.2501, 0.0, 0},
                            {-0.5, 0.0, 0}};
    const std::vector<int64_t> targets = kernelTargets();
    for (int i = 0; i < 24; ++i) {
        Block b;
        b.view = anchors[rng() % std::size(anchors)];
        b.view.s = std::pow(10.0, -12.0 * unit(rng)) * (rng() % 5 == 0 ? -1.0 : 1.0);
        b.view.xc += b.view.s * (unit(rng) - 0.5);
        b.rep = static_cast<int32_t>(rng() % 3000);
        b.col0 = static_cast<int>(rng() % kPicSide);
        b.ncols = 1 + static_cast<int>(rng() % 6);
        SCOPED_TRACE(testing::Message() << "view " << i << ": " << b.view.xc << ',' << b.view.yc
                                        << " size " << b.view.s << " rep " << b.rep);
        expectMatchesReference(b, targets);
    }
}

TEST(Kernel, KnownCounts) {
    struct Known {
        double cx, cy;
        int32_t rep;
        int32_t count;
    };
    const Known known[] = {
        {2.0, 0.0, 100, 1},  {3.0, 0.0, 100, 0},   {-2.0, 0.0, 100, 101}, {0.0, 0.0, 0, 1},
        {0.25, 0.0, 50, 51}, {-0.75, 0.1, 10, 11}, {0.0, 2.0, 100, 1},    {1.0, 1.0, 100, 1},
    };
    for (const Known& k : known) {
        int32_t out[kPicSide];
        const SweepFault f = core::computeColumns({k.cx, k.cy, 0.0}, kEscLim, k.rep, 0, 1, out);
        EXPECT_FALSE(f.any());
        EXPECT_EQ(out[0], k.count) << k.cx << ',' << k.cy;
        EXPECT_EQ(out[kPicSide - 1], core::escCount(k.cx, k.cy, kEscLim, k.rep).count);
    }
}

TEST(Kernel, ColumnsComputedConcurrently) {
    // No shared mutable state: two threads on neighbouring blocks at once.
    const Block b{kSeahorse, kEscLim, 5000, 300, 8};
    std::vector<int32_t> want(static_cast<size_t>(b.ncols) * kPicSide);
    core::referenceColumns(b.view, b.lim, b.rep, b.col0, b.ncols, want.data());
    std::vector<int32_t> got(want.size());
    const int half = b.ncols / 2;
    std::thread other([&] {
        core::computeColumns(b.view, b.lim, b.rep, b.col0 + half, b.ncols - half,
                             got.data() + static_cast<size_t>(half) * kPicSide);
    });
    core::computeColumns(b.view, b.lim, b.rep, b.col0, half, got.data());
    other.join();
    EXPECT_EQ(got, want);
}

struct OverflowRow {
    const char* what;
    Block b;
    int col, row;  // the pixel whose counter overflows first in sweep order
};

// Whether the build is optimised and not instrumented: 2^31 steps take
// seconds there, minutes otherwise.
constexpr bool kFastBuild =
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    true;
#else
    false;
#endif

TEST(Kernel, CounterOverflowStopsTheSweep) {
    // Each block holds pixels that never escape, so rep = 2^31 - 1 overflows
    // the step counter there; every other pixel escapes within two steps.
    // Each row runs 2^31 steps, on the best target only.
    if (!kFastBuild) {
        GTEST_SKIP() << "2^31 steps per row: run in an optimised build without sanitizers";
    }
    const OverflowRow rows[] = {
        // c = -2 at (399, 400) and c = 0 at (400, 400) finish in the same
        // chunk; the first in sweep order is the fault.
        {"two in flight", {{0.0, 0.0, 800.0}, kEscLim, kRepMax, 399, 3}, 399, 400},
        // c = 0 at (400, 400); from column 599 on, step 0 overflows at row 800,
        // later in the sweep than the counter.
        {"step-0 fault after it", {{0.0, 0.0, 1.2e154}, kEscLim, kRepMax, 400, 401}, 400, 400},
    };
    for (const OverflowRow& r : rows) {
        SCOPED_TRACE(r.what);
        const Block& b = r.b;
        std::vector<int32_t> out(static_cast<size_t>(b.ncols) * kPicSide, kUnwritten);
        const SweepFault f =
            core::computeColumns(b.view, b.lim, b.rep, b.col0, b.ncols, out.data());
        EXPECT_EQ(f.col, r.col);
        EXPECT_EQ(f.row, r.row);
        for (int c = 0; c < b.ncols; ++c) {
            for (int row = kPicSide - 1; row >= 0; --row) {
                if (sweepPos(b, b.col0 + c, row) >= sweepPos(b, r.col, r.row)) {
                    break;
                }
                const core::EscResult e = core::escCount(core::pixelX(b.col0 + c, b.view),
                                                         core::pixelY(row, b.view), b.lim, b.rep);
                ASSERT_EQ(e.err, 0);
                EXPECT_EQ(out[static_cast<size_t>(c) * kPicSide + row], e.count)
                    << "pixel " << b.col0 + c << ',' << row;
            }
        }
    }
    // The second block does have its step-0 faults, after the counter's.
    std::vector<int32_t> out(401 * kPicSide);
    const SweepFault f0 =
        core::referenceColumns({0.0, 0.0, 1.2e154}, kEscLim, 0, 400, 401, out.data());
    EXPECT_GT(f0.col, 400);
}

}  // namespace
