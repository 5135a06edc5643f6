#include "core/esccount.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "core/countgrid.h"
#include "core/view.h"
#include "support/scripted_platform.h"

namespace {

using core::kEscLim;

struct MapRow {
    int col, row;
    core::View view;
    double x, y;
};

TEST(ViewMapping, PixelForm) {
    const core::View start{0.0, 0.0, 2.0};
    const MapRow rows[] = {
        {0, 0, start, -2.0, 2.0},
        {800, 800, start, 2.0, -2.0},
        {400, 400, start, 0.0, 0.0},
        {401, 400, start, 0.005, 0.0},
        {1, 799, start, -1.995, -1.995},
        {400,
         400,
         {-0.743643887037151, 0.131825904205330, 1e-9},
         -0.743643887037151,
         0.131825904205330},
        {0, 0, {0.0, 0.0, -2.0}, 2.0, -2.0},        // a negative size mirrors the view
        {123, 456, {1.25, -0.5, 0.0}, 1.25, -0.5},  // S = 0: every pixel is the centre
    };
    for (const MapRow& r : rows) {
        EXPECT_EQ(core::pixelX(r.col, r.view), r.x) << r.col << ',' << r.row;
        EXPECT_EQ(core::pixelY(r.row, r.view), r.y) << r.col << ',' << r.row;
    }
}

TEST(ViewMapping, KeepsTheOperationOrder) {
    // (d * S) / 400 and d * (S / 400) differ in the last bit for this size;
    // the mapping must give the first.
    const core::View v{0.1, 0.0, 0.7};
    const double d = 5.0;
    const double multiplyFirst = 0.1 + (d * 0.7) / 400.0;
    ASSERT_NE(multiplyFirst, 0.1 + d * (0.7 / 400.0));
    EXPECT_EQ(core::pixelX(405, v), multiplyFirst);
}

TEST(ViewMapping, PointerForm) {
    const core::View start{0.0, 0.0, 2.0};
    EXPECT_EQ(core::pointerX(600.0, start), 1.0);
    EXPECT_EQ(core::pointerY(200.0, start), 1.0);
    EXPECT_EQ(core::pointerX(100.0, start), -1.5);
    EXPECT_EQ(core::pointerY(700.0, start), -1.5);
    EXPECT_EQ(core::pointerX(400.5, start), 0.0025);
}

struct CountRow {
    const char* name;
    double cx, cy;
    int32_t rep;
    int32_t count;
};

class EscCountRows : public testing::TestWithParam<CountRow> {};

TEST_P(EscCountRows, Counts) {
    const CountRow& r = GetParam();
    const core::EscResult got = core::escCount(r.cx, r.cy, kEscLim, r.rep);
    EXPECT_EQ(got.err, 0);
    EXPECT_EQ(got.count, r.count);
}

const CountRow kCounts[] = {
    {"origin_is_inside", 0.0, 0.0, 256, 257},
    {"minus_two_stays_at_the_limit", -2.0, 0.0, 256, 257},
    {"two_escapes_at_step_1", 2.0, 0.0, 256, 1},
    {"three_escapes_at_once", 3.0, 0.0, 256, 0},
    {"rep0_outside", 3.0, 0.0, 0, 0},
    {"rep0_inside", 0.0, 0.0, 0, 1},
    {"rep0_on_the_limit", 2.0, 0.0, 0, 1},
    {"negative_rep", 0.0, 0.0, -5, 0},
    {"negative_rep_outside", 1e200, 0.0, -5, 0},  // no step, so no fault either
    {"i_is_inside", 0.0, 1.0, 1000, 1001},
    {"one_escapes_at_step_2", 1.0, 0.0, 256, 2},
    {"near_max_rep_escapes_early", 3.0, 0.0, 2147483647, 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, EscCountRows, testing::ValuesIn(kCounts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EscCountFaults, FirstStepOverflowIsRecorded) {
    const double huge[][2] = {{1e200, 0.0},    {0.0, -1e200},       {1.35e154, 0.0},
                              {HUGE_VAL, 0.0}, {std::nan(""), 0.0}, {1e308, 1e308}};
    for (const auto& c : huge) {
        const core::EscResult r = core::escCount(c[0], c[1], kEscLim, 256);
        EXPECT_EQ(r.err, core::kErrOverflow) << c[0] << ',' << c[1];
    }
    // Just below the square root of the largest double, the first step
    // escapes without a fault.
    EXPECT_EQ(core::escCount(1.3e154, 0.0, kEscLim, 256).err, 0);
}

TEST(EscCountFaults, ReportOfAFaultShowsTheMessageAndEnds) {
    // What the run shows when a count faults: the error number of the
    // record, then the fixed text.
    const core::EscResult r = core::escCount(1e200, 0.0, kEscLim, 256);
    ASSERT_EQ(r.err, core::kErrOverflow);
    testsupport::ScriptedPlatform platform;
    EXPECT_THROW(core::reportAndEnd(platform, r.err, core::kComputeFaultText),
                 testsupport::ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "6 XX-YY 演算異常");
    EXPECT_TRUE(platform.ended);
}

TEST(EscCountFaults, CounterOverflowAtTheLargestRepeatCount) {
    // An inside point runs all 2^31 steps; the counter passing 2147483647
    // is the fault. Takes a few seconds.
    const core::EscResult r = core::escCount(0.0, 0.0, kEscLim, 2147483647);
    EXPECT_EQ(r.err, core::kErrOverflow);
}

TEST(CountGrid, StartsAtZeroAndIndexesColumnFastest) {
    core::CountGrid grid;
    for (int32_t v : grid.cells()) {
        ASSERT_EQ(v, 0);
    }
    grid.set(5, 2, 42);
    EXPECT_EQ(grid.cells()[2 * 801 + 5], 42);
    EXPECT_EQ(grid.at(5, 2), 42);
    grid.clear();
    EXPECT_EQ(grid.at(5, 2), 0);
}

}  // namespace
