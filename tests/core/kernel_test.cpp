#include "core/kernel.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/esccount.h"
#include "core/kernel_dispatch.h"
#include "core/outcome.h"
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

// escCount that also ends, as never escaping, when z repeats exactly: after
// each step it compares z with the z saved after step 2^j - 1, for the
// largest such step before it (Brent's cycle finding, every step rather than
// at the kernel's chunk ends). A repeat before an escape means the orbit
// cycles forever (the argument is in core/kernel.cpp). For budgets that
// escCount cannot afford, on orbits that escape or repeat well within them.
core::EscResult escCountOrCycle(double cx, double cy, double lim, int32_t rep) {
    double x = 0.0;
    double y = 0.0;
    double sx = std::nan("");  // equal to nothing
    double sy = std::nan("");
    int64_t nextSave = 1;  // saved after step nextSave - 1
    for (int64_t n = 0; n <= rep; ++n) {
        const double xn = (x * x - y * y) + cx;
        const double yn = (2.0 * x) * y + cy;
        x = xn;
        y = yn;
        const double r = x * x + y * y;
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(r)) {
            return {static_cast<int32_t>(n), core::kErrOverflow};
        }
        if (r > lim) {
            return {static_cast<int32_t>(n), 0};
        }
        if (x == sx && y == sy) {
            break;
        }
        if (n + 1 == nextSave) {
            sx = x;
            sy = y;
            nextSave *= 2;
        }
    }
    if (rep < 0) {
        return {0, 0};
    }
    if (rep == kRepMax) {
        return {rep, core::kErrOverflow};
    }
    return {rep + 1, 0};
}

// referenceColumns with escCountOrCycle.
SweepFault cycleAwareColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                             int32_t* out) {
    for (int c = 0; c < ncols; ++c) {
        const int col = col0 + c;
        for (int row = kPicSide - 1; row >= 0; --row) {
            const core::EscResult r =
                escCountOrCycle(core::pixelX(col, view), core::pixelY(row, view), lim, rep);
            out[static_cast<size_t>(c) * kPicSide + row] = r.count;
            if (r.err != 0) {
                return {col, row};
            }
        }
    }
    return {};
}

using ColumnFn = SweepFault (*)(const View&, double, int32_t, int, int, int32_t*);

struct KernelFn {
    const char* name;
    bool cycleCheck;
};

// The kernel as the program calls it, and without its exact cycle check.
const KernelFn kWithCycleCheck{"with cycle check", true};
const KernelFn kWithoutCycleCheck{"without cycle check", false};

// Each kernel in each count of vectors in flight of the current target.
std::vector<std::pair<int, KernelFn>> variants(const std::vector<KernelFn>& kernels) {
    std::vector<std::pair<int, KernelFn>> all;
    for (int groups : core::kernelGroupChoices()) {
        for (const KernelFn& k : kernels) {
            all.emplace_back(groups, k);
        }
    }
    return all;
}

// Runs each kernel on the block on each target, in each variant the target
// has (vectors in flight, see kernelGroupChoices), and holds it to
// `expected` (referenceColumns unless told): the same fault, the same count
// for every pixel before it in sweep order, and no write outside the block.
void expectMatches(const Block& b, const std::vector<int64_t>& targets,
                   const std::vector<KernelFn>& kernels,
                   ColumnFn expected = core::referenceColumns) {
    const size_t n = static_cast<size_t>(b.ncols) * kPicSide;
    std::vector<int32_t> want(n, kUnwritten);
    const SweepFault wf = expected(b.view, b.lim, b.rep, b.col0, b.ncols, want.data());
    const size_t valid = wf.any() ? sweepPos(b, wf.col, wf.row) : n;

    for (int64_t target : targets) {
        OnTarget on(target);
        ASSERT_STREQ(core::kernelTargetName(), hwy::TargetName(target));
        for (const auto& [groups, kernel] : variants(kernels)) {
            SCOPED_TRACE(testing::Message() << hwy::TargetName(target) << ", " << groups
                                            << " groups, " << kernel.name);
            std::vector<int32_t> got(n + 2 * kGuard, kUnwritten);
            int32_t* out = got.data() + kGuard;
            const SweepFault gf = core::computeColumnsWithGroups(
                groups, kernel.cycleCheck, b.view, b.lim, b.rep, b.col0, b.ncols, out);
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
}

void expectMatchesReference(const Block& b, const std::vector<int64_t>& targets) {
    expectMatches(b, targets, {kWithCycleCheck, kWithoutCycleCheck});
}

class KernelMatchesReference : public testing::TestWithParam<Row> {};

TEST_P(KernelMatchesReference, OnEveryTarget) {
    expectMatchesReference(GetParam().b, kernelTargets());
}

const View kStart{0.0, 0.0, 2.0};
const View kSeahorse{-0.743643887037151, 0.131825904205330, 0.0001};
// Inside the main cardioid: every orbit settles on an exact cycle (period 1,
// 2 or 4 in double rounding) within 33 steps.
const View kAllInside{-0.1, 0.1, 0.01};
// Seahorse valley with parts of the cardioid and the period-2 bulb: at rep
// 10000 half the pixels cycle, some after 9000 steps and with periods up to
// the hundreds, 7 % run out of steps and 30 % escape.
const View kInsideHeavy{-0.75, 0.1, 0.05};

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
    {"inside_heavy", {kInsideHeavy, kEscLim, 10000, 400, 3}},
    {"inside_heavy_left", {kInsideHeavy, kEscLim, 10000, 0, 2}},
    // Every pixel inside: every batch of rows runs on in the opening in
    // 16-step stretches, testing only its first 8 steps for an end. The
    // opening proper runs 16 to 31 steps, so that the budget of rep + 1
    // steps ends on a stretch or chunk end; z is saved after the first
    // stretch and compared from the second on. Budgets of 8 and 9 end right
    // at and one step after the tested steps; 18 in the opening; 47 after a
    // 31-step opening and one stretch; 48, 80 and 144 after a 16-step
    // opening and 2, 4 and 8 stretches; 79 after a 31-step one and 3.
    // With 8 vectors in flight the stretches run 32 steps and the opening
    // 16 to 47: 47 ends in the opening, 48 after one stretch, 79 after a
    // 47-step opening and one, 80 and 144 after 2 and 4.
    {"all_inside_rep_100000", {kAllInside, kEscLim, 100000, 400, 1}},
    {"all_inside_rep_7", {kAllInside, kEscLim, 7, 0, 20}},
    {"all_inside_rep_8", {kAllInside, kEscLim, 8, 0, 20}},
    {"all_inside_rep_17", {kAllInside, kEscLim, 17, 0, 20}},
    {"all_inside_rep_46", {kAllInside, kEscLim, 46, 0, 20}},
    {"all_inside_rep_47", {kAllInside, kEscLim, 47, 20, 20}},
    {"all_inside_rep_78", {kAllInside, kEscLim, 78, 40, 20}},
    {"all_inside_rep_79", {kAllInside, kEscLim, 79, 60, 20}},
    {"all_inside_rep_80", {kAllInside, kEscLim, 80, 80, 20}},
    {"all_inside_rep_143", {kAllInside, kEscLim, 143, 100, 20}},
    {"all_inside_mirrored", {{-0.1, 0.1, -0.01}, kEscLim, 3000, 700, 2}},
    // Bulbs whose cycles have periods that do not divide the chunk length
    // (32 steps), and that grow with double rounding near their edges.
    {"bulb_period_2", {{-1.0, 0.0, 0.3}, kEscLim, 5000, 390, 4}},
    {"bulb_period_3", {{-0.1226, 0.7449, 0.12}, kEscLim, 5000, 390, 4}},
    {"window_period_3", {{-1.7549, 0.0, 0.02}, kEscLim, 5000, 390, 4}},
    {"bulb_period_4", {{-1.3107, 0.0, 0.03}, kEscLim, 5000, 398, 4}},
    {"bulb_period_5", {{-0.5043, 0.5627, 0.03}, kEscLim, 5000, 398, 4}},
    {"bulb_period_5_right", {{0.3795, 0.3349, 0.03}, kEscLim, 5000, 398, 4}},
    // The neck between the cardioid and the period-2 bulb: inside orbits
    // creep towards a parabolic cycle without repeating in 20000 steps, and
    // outside ones escape up to a few steps before the budget runs out.
    {"parabolic_neck", {{-0.75, 0.0, 0.001}, kEscLim, 20000, 398, 4}},
    // Between the two horns of the cusp at 1/4, no pixel inside: orbits
    // linger near z = 1/2 for up to 10^4 steps, then escape.
    {"cusp_no_inside", {{0.2500001, 0.0, 1e-11}, kEscLim, 20000, 0, 3}},
    {"cusp_no_inside_shallow", {{0.2501, 0.0, 1e-7}, kEscLim, 1000, 0, 50}},
    // Deep on the boundary with minibrots: cycles of periods in the
    // hundreds and thousands, found only after thousands of steps.
    {"seahorse_minibrot", {kSeahorse, kEscLim, 20000, 396, 8}},
    {"spiral_minibrot", {{-0.7746806106269039, -0.1374168856037867, 1e-5}, kEscLim, 5000, 398, 4}},
    // Degenerate and mirrored views.
    {"size_0_inside", {{-0.5, 0.3, 0.0}, kEscLim, 700, 10, 3}},
    {"size_0_minus_2", {{-2.0, 0.0, 0.0}, kEscLim, 500, 0, 2}},  // |z|^2 stays exactly 4
    {"size_0_plus_2", {{2.0, 0.0, 0.0}, kEscLim, 500, 0, 2}},
    // Every pixel escapes at step 60, after the cycle check saved its z at
    // the end of the opening's first stretch (rep 303: a 16-step opening,
    // stretches ending after 32, 48, ... steps); no z that a pixel saved
    // may count as a repeat for another pixel with the same z.
    {"size_0_escape_at_60", {{0.2525, 0.0, 0.0}, kEscLim, 303, 0, 2}},
    {"negative_size", {{0.0, 0.0, -2.0}, kEscLim, 256, 0, 801}},
    {"negative_size_deep", {{-0.743643887037151, 0.131825904205330, -1e-6}, kEscLim, 2000, 0, 16}},
    {"subnormal_centre", {{0.0, 0.0, 1e-310}, kEscLim, 100, 395, 10}},
    // y starts a few subnormal units from 0 and doubles about every step
    // until the point escapes: (x + x) * y and 2 * (x * y) round apart here.
    {"subnormal_imaginary", {{-1.9, 0.0, 5e-322}, kEscLim, 5000, 0, 4}},
    // Escape bounds next to 4, where a block's rows of r first prove that a
    // lane still runs (bound lim (1 - 2^-14), from lim = 4 up), and above.
    {"lim_just_above_4", {kSeahorse, std::nextafter(4.0, 5.0), 3000, 380, 8}},
    {"lim_just_below_4", {kSeahorse, std::nextafter(4.0, 0.0), 3000, 380, 8}},
    {"lim_4_5_inside", {kAllInside, 4.5, 1000, 0, 8}},
    {"lim_100_needle", {{-1.999985882, 0.0, 1e-12}, 100.0, 1000, 0, 20}},
    // Other escape bounds: small, huge (later steps may overflow), not a number.
    {"lim_half", {kStart, 0.5, 100, 0, 200}},
    {"lim_negative", {kStart, -1.0, 100, 0, 5}},
    // Every pixel at c = 0, whose r stays +0: within a bound of +0 or -0.
    {"lim_plus_0_at_c_0", {{0.0, 0.0, 0.0}, 0.0, 100, 0, 2}},
    {"lim_minus_0_at_c_0", {{0.0, 0.0, 0.0}, -0.0, 100, 0, 2}},
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
        // The variant computeColumns takes is one that the tests hold to
        // the reference.
        const std::vector<int> choices = core::kernelGroupChoices();
        EXPECT_NE(std::find(choices.begin(), choices.end(), core::kernelGroups()), choices.end())
            << hwy::TargetName(target);
    }
    // Back to the best one.
    EXPECT_STREQ(core::kernelTargetName(), hwy::TargetName(targets.front()));
}

TEST(Kernel, GroupsInFlightByCpu) {
    struct Case {
        bool avx512;
        core::Cpu cpu;
        int groups;
    };
    const Case cases[] = {
        {true, {true, 0x1A}, 8},   // Zen 5
        {true, {true, 0x19}, 8},   // Zen 4
        {false, {true, 0x1A}, 4},  // Zen 5, AVX2
        {true, {false, 6}, 4},     // Intel
        {false, {false, 6}, 4},
        {true, {true, 0x15}, 4},  // before Zen
        {true, {}, 4},            // unknown
    };
    for (const Case& c : cases) {
        EXPECT_EQ(core::groupsInFlightFor(c.avx512, c.cpu), c.groups)
            << "AVX-512 " << c.avx512 << ", AMD " << c.cpu.amd << ", family " << c.cpu.family;
    }
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

// The c on the real axis right of the cusp at 1/4 whose count under rep is
// n: counts fall from rep + 1 at 1/4 to 0 at 2 and more; bisection finds the
// smallest c with a count of n or less. NaN when no c has n exactly.
double realCWithCount(int32_t n, int32_t rep) {
    double lo = 0.25;  // count above n
    double hi = 2.5;   // count n or less
    for (int i = 0; i < 200 && lo < hi; ++i) {
        const double mid = lo + (hi - lo) / 2;
        if (mid == lo || mid == hi) {
            break;
        }
        (core::escCount(mid, 0.0, kEscLim, rep).count > n ? lo : hi) = mid;
    }
    return core::escCount(hi, 0.0, kEscLim, rep).count == n ? hi : std::nan("");
}

TEST(Kernel, EscapesAtTheEdgesOfAChunk) {
    // With rep 303 the opening runs 16 steps and the refill's chunks end
    // after 48, 80, 112, ... steps. A lane still active after a chunk is one
    // that counted all its steps; these counts put the escape on the last
    // step of a chunk (47, 79), on the first (48, 80), and next to them.
    // Size 0: every lane of every vector escapes at the same step. A small
    // size: neighbouring pixels escape a few steps apart, across the edge.
    const int32_t rep = 303;
    for (int32_t n : {15, 16, 46, 47, 48, 49, 78, 79, 80, 81}) {
        const double cx = realCWithCount(n, rep);
        ASSERT_FALSE(std::isnan(cx)) << "no c with count " << n;
        for (double size : {0.0, 2e-4}) {
            SCOPED_TRACE(testing::Message() << "count " << n << " at " << cx << ", size " << size);
            expectMatchesReference({{cx, 0.0, size}, kEscLim, rep, 390, 3}, kernelTargets());
        }
    }
}

TEST(Kernel, ViewsOneAfterAnother) {
    // A thread keeps the rows of the view it computed last. Views that differ
    // from the one before only in yc, only in s or only in xc, computed in
    // turn on one thread, must each get their own rows.
    const double xc = kSeahorse.xc;
    const double yc = kSeahorse.yc;
    const View views[] = {
        {xc, yc, 1e-4},  {xc, yc, 2e-4}, {xc, yc + 1e-4, 2e-4}, {xc + 1e-4, yc + 1e-4, 2e-4},
        {xc, yc, -1e-4}, {xc, yc, 1e-4},
    };
    for (int64_t target : kernelTargets()) {
        for (const View& v : views) {
            SCOPED_TRACE(testing::Message() << v.xc << ',' << v.yc << " size " << v.s);
            expectMatchesReference({v, kEscLim, 2000, 300, 2}, {target});
        }
    }
}

TEST(Kernel, EscapedOrbitsStayAboveTheSureBound) {
    // Blocks of the kernel's steps take a lane as still running when its r
    // is at most lim (1 - 2^-14) at the block's last step and at every 16th
    // before it. That rests on this: for lim >= 4, once an orbit's r exceeds
    // lim, r at each of the next 15 steps is above lim (1 - 2^-14) or is not
    // finite. Orbits that escape slowly, with |z| close to sqrt(lim): c near
    // the tip at -2, c near the circle of radius sqrt(lim), c near the
    // boundary of the set; in the reference's order of operations.
    std::mt19937_64 rng(20261207);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double pi = std::acos(-1.0);
    for (double lim : {4.0, std::nextafter(4.0, 5.0), 4.5, 100.0, 1e150}) {
        const double bound = lim - lim * 0x1p-14;
        const double s = std::sqrt(lim);
        double closest = std::numeric_limits<double>::infinity();  // least r / lim after an escape
        int escapes = 0;
        for (int i = 0; i < 30000; ++i) {
            double cx = 0.0;
            double cy = 0.0;
            switch (i % 3) {
                case 0:  // the tip
                    cx = -2.0 + 1e-3 * unit(rng);
                    cy = 1e-3 * unit(rng);
                    break;
                case 1: {  // the circle
                    const double a = pi * unit(rng);
                    const double rad = s * (1.0 + 1e-9 * unit(rng));
                    cx = rad * std::cos(a);
                    cy = rad * std::sin(a);
                    break;
                }
                default:  // the set's neighbourhood
                    cx = -0.75 + 1.3 * unit(rng);
                    cy = 1.2 * unit(rng);
            }
            double x = 0.0;
            double y = 0.0;
            int escapedAt = -1;
            for (int n = 0; n < 2000 && (escapedAt < 0 || n <= escapedAt + 15); ++n) {
                const double xn = (x * x - y * y) + cx;
                const double yn = (x + x) * y + cy;
                x = xn;
                y = yn;
                const double r = x * x + y * y;
                if (escapedAt < 0) {
                    if (r > lim) {
                        escapedAt = n;
                        ++escapes;
                    }
                    continue;
                }
                ASSERT_FALSE(r <= bound)
                    << "lim " << lim << ", c " << cx << ',' << cy << ": r " << r << " at step " << n
                    << ", " << n - escapedAt << " after the escape";
                if (std::isfinite(r)) {
                    closest = std::min(closest, r / lim);
                }
            }
        }
        EXPECT_GT(escapes, 10000) << "lim " << lim;
        if (lim < 4.5) {
            // Where the bound is tightest, orbits do come close to it: the
            // samples look where it matters.
            EXPECT_LT(closest, 1.0 + 1e-6) << "lim " << lim;
        }
    }
}

TEST(Kernel, StepCeilingCountsEveryStep) {
    // The benchmark divides chains * lanes * steps by the time of the call:
    // that must be what the call did, on every target.
    struct Case {
        int chains, expectChains;  // asked for, run (4 to 8)
        int64_t steps;
    };
    const Case cases[] = {{4, 4, 1},    {5, 5, 1000}, {6, 6, 777},
                          {8, 8, 4096}, {3, 4, 10},   {9, 8, 10}};
    for (int64_t target : kernelTargets()) {
        OnTarget on(target);
        SCOPED_TRACE(hwy::TargetName(target));
        const size_t lanes = core::kernelLanes();
        EXPECT_TRUE(lanes >= 1 && lanes <= 8 && (lanes & (lanes - 1)) == 0) << lanes;
        for (const Case& c : cases) {
            for (bool mask : {false, true}) {
                EXPECT_EQ(core::stepCeiling(c.chains, c.steps, mask),
                          c.expectChains * static_cast<int64_t>(lanes) * c.steps)
                    << c.chains << " chains, " << c.steps << " steps, mask " << mask;
            }
        }
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

// Whether the build is optimised and not instrumented: 2^31 steps take
// seconds there, minutes otherwise.
constexpr bool kFastBuild =
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
    true;
#else
    false;
#endif

// Budgets too large for escCount on whole blocks. The kernel is held to
// escCountOrCycle on the whole block, and escCountOrCycle to escCount on
// every stride-th pixel in sweep order at checkedRep: the block's budget
// where escCount can afford it on inside pixels, a smaller one otherwise.
struct LargeRow {
    const char* name;
    Block b;
    int32_t checkedRep;
    int stride;
};

TEST(Kernel, LargeBudgetsEndOnExactCycles) {
    const View bulb3{-0.1226, 0.7449, 0.12};
    const LargeRow rows[] = {
        {"all inside", {kAllInside, kEscLim, 1000000, 0, kPicSide}, 1000000, 16001},
        {"all inside, 2^31 - 2", {kAllInside, kEscLim, kRepMax - 1, 0, kPicSide}, 2000, 401},
        {"period-2 bulb edge", {kInsideHeavy, kEscLim, 1000000, 0, 2}, 1000000, 41},
        {"inside-heavy, 2^31 - 2", {kInsideHeavy, kEscLim, kRepMax - 1, 1, 3}, 20000, 3},
        {"period-3 bulb", {bulb3, kEscLim, 1000000, 300, 40}, 1000000, 1003},
        {"period-3 bulb, 2^31 - 2", {bulb3, kEscLim, kRepMax - 1, 390, 4}, 20000, 3},
        {"period-5 bulb, 2^30", {{-0.5043, 0.5627, 0.03}, kEscLim, 1 << 30, 398, 4}, 20000, 3},
        // Minibrot pixels cycle with periods in the thousands.
        {"seahorse minibrot", {kSeahorse, kEscLim, 300000, 399, 2}, 300000, 1},
        {"seahorse minibrot, 2^31 - 2", {kSeahorse, kEscLim, kRepMax - 1, 399, 2}, 20000, 1},
    };
    for (const LargeRow& r : rows) {
        SCOPED_TRACE(r.name);
        const Block& b = r.b;
        size_t inside = 0;
        for (int q = 0; q < b.ncols * kPicSide; q += r.stride) {
            const double x = core::pixelX(b.col0 + q / kPicSide, b.view);
            const double y = core::pixelY(kPicSide - 1 - q % kPicSide, b.view);
            const core::EscResult e = core::escCount(x, y, b.lim, r.checkedRep);
            const core::EscResult o = escCountOrCycle(x, y, b.lim, r.checkedRep);
            ASSERT_EQ(o.count, e.count) << "escCountOrCycle differs at sweep position " << q;
            ASSERT_EQ(o.err, e.err);
            inside += e.count > r.checkedRep;
        }
        ASSERT_GT(inside, 0u) << "no sampled pixel runs out of steps";
        expectMatches(b, kernelTargets(), {kWithCycleCheck}, cycleAwareColumns);
    }
}

struct OverflowRow {
    const char* what;
    Block b;
    int col, row;  // the pixel whose counter overflows first in sweep order
    // Its orbit does not repeat, so it runs all 2^31 steps.
    bool slow = false;
};

TEST(Kernel, CounterOverflowStopsTheSweep) {
    // Each block holds pixels that never escape, so rep = 2^31 - 1 overflows
    // the step counter there, and the first of them in sweep order is the
    // fault. escCount checks every pixel before it, all of which escape;
    // escCountOrCycle proves that the fault's orbit repeats.
    const OverflowRow rows[] = {
        // c = -2 at (399, 400) and c = 0 at (400, 400) finish in the same
        // chunk; the first in sweep order is the fault.
        {"two in flight", {{0.0, 0.0, 800.0}, kEscLim, kRepMax, 399, 3}, 399, 400},
        // c = 0 at (400, 400); from column 599 on, step 0 overflows at row 800,
        // later in the sweep than the counter.
        {"step-0 fault after it", {{0.0, 0.0, 1.2e154}, kEscLim, kRepMax, 400, 401}, 400, 400},
        // The first pixel settles on a 2-cycle after 512 steps; the rows in
        // flight with it cycle sooner or later.
        {"inside-heavy, first pixel", {kInsideHeavy, kEscLim, kRepMax, 0, kPicSide}, 0, 800},
        // x = -1: rows 800 to 458 escape within 58 steps; (200, 457) repeats
        // after 4110 steps, long after c = -1 at (200, 400) and its
        // neighbours, later in the sweep, were found cycling.
        {"start view, x = -1", {kStart, kEscLim, kRepMax, 200, 3}, 200, 457},
        {"period-2 bulb from below", {{-0.5, 0.0, 0.5}, kEscLim, kRepMax, 0, 2}, 0, 629},
        // c = -0.75 at (400, 400) can never escape: y stays 0 and x in
        // [-0.75, 0] (x*x rounds into [0, 0.5625]). Its orbit creeps towards
        // -1/2 without repeating in 2^31 steps, so its counter must really
        // overflow, while c = 1/4 at (401, 400), later in the sweep, is
        // found repeating after about 2^28 steps.
        {"orbit that does not repeat",
         {{-0.75, 0.0, 400.0}, kEscLim, kRepMax, 400, 2},
         400,
         400,
         true},
    };
    const std::vector<int64_t> all = kernelTargets();
    for (const OverflowRow& r : rows) {
        SCOPED_TRACE(r.what);
        if (r.slow && !kFastBuild) {
            continue;  // 2^31 steps: minutes under sanitizers
        }
        const Block& b = r.b;
        const double faultX = core::pixelX(r.col, b.view);
        const double faultY = core::pixelY(r.row, b.view);
        if (!r.slow) {
            EXPECT_EQ(escCountOrCycle(faultX, faultY, b.lim, b.rep).err, core::kErrOverflow);
        }
        // The slow row runs on the best target only, as the program picks
        // it: seconds per target.
        for (int64_t target : r.slow ? std::vector<int64_t>{all.front()} : all) {
            OnTarget on(target);
            for (int groups : r.slow ? std::vector<int>{0} : core::kernelGroupChoices()) {
                SCOPED_TRACE(testing::Message()
                             << hwy::TargetName(target) << ", " << groups << " groups");
                std::vector<int32_t> out(static_cast<size_t>(b.ncols) * kPicSide, kUnwritten);
                const uint64_t before = core::refillLaneSteps();
                const SweepFault f = core::computeColumnsWithGroups(
                    groups, true, b.view, b.lim, b.rep, b.col0, b.ncols, out.data());
                // A pixel after the fault in sweep order starts only after
                // it, and is dropped once it is found. A sweep that started
                // such pixels first would run each until it repeats or
                // overflows: millions of lane-steps and far more here,
                // where these rows take at most about 100 000.
                if (!r.slow) {
                    EXPECT_LT(core::refillLaneSteps() - before, uint64_t{1} << 20);
                }
                EXPECT_EQ(f.col, r.col);
                EXPECT_EQ(f.row, r.row);
                for (int c = 0; c < b.ncols; ++c) {
                    for (int row = kPicSide - 1; row >= 0; --row) {
                        if (sweepPos(b, b.col0 + c, row) >= sweepPos(b, r.col, r.row)) {
                            break;
                        }
                        const core::EscResult e =
                            core::escCount(core::pixelX(b.col0 + c, b.view),
                                           core::pixelY(row, b.view), b.lim, b.rep);
                        ASSERT_EQ(e.err, 0);
                        EXPECT_EQ(out[static_cast<size_t>(c) * kPicSide + row], e.count)
                            << "pixel " << b.col0 + c << ',' << row;
                    }
                }
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
