#include "compute/threaded_count_source.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/kernel.h"

namespace {

struct ViewRow {
    const char* name;
    core::View view;
    int32_t rep;
};

const ViewRow kViews[] = {
    {"default", {0.0, 0.0, 2.0}, 256},
    {"all_inside", {-0.1, 0.1, 0.01}, 300},
    {"no_inside", {3.0, 3.0, 0.5}, 1000},
    {"deep_boundary", {-0.743643887037151, 0.131825904205330, 1e-9}, 600},
    {"inside_heavy", {-0.75, 0.1, 0.05}, 400},
    {"period_two_bulb", {-1.0, 0.0, 0.2}, 300},
    {"size_zero", {-2.0, 0.0, 0.0}, 100},
    {"negative_size", {0.3, -0.5, -0.7}, 300},
    {"negative_rep", {0.0, 0.0, 2.0}, -5},
    {"rep_zero", {0.0, 0.0, 2.0}, 0},
    {"rep_one", {0.0, 0.0, 2.0}, 1},
};

class ThreadedCounts : public testing::TestWithParam<ViewRow> {};

TEST_P(ThreadedCounts, EqualTheReferenceColumnByColumn) {
    const ViewRow& r = GetParam();
    std::vector<int32_t> expected(801 * 801);
    ASSERT_FALSE(core::referenceColumns(r.view, 4.0, r.rep, 0, 801, expected.data()).any());

    for (unsigned workers : {1u, 3u}) {
        compute::ThreadedCountSource source(workers);
        source.begin(r.view, 4.0, r.rep);
        std::vector<int32_t> column(801);
        for (int col = 0; col <= 800; ++col) {
            // As the run takes them: waits of a millisecond until ready,
            // and every other column without waiting first.
            while (col % 2 == 0 && !source.waitReady(col, std::chrono::milliseconds(1))) {
            }
            ASSERT_EQ(source.column(col, column.data()), -1);
            for (int row = 0; row <= 800; ++row) {
                ASSERT_EQ(column[static_cast<size_t>(row)],
                          expected[static_cast<size_t>(col) * 801 + row])
                    << r.name << " workers " << workers << " at " << col << ',' << row;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Views, ThreadedCounts, testing::ValuesIn(kViews),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ThreadedCountsPool, ANewRunMidwayStartsClean) {
    compute::ThreadedCountSource source(2);
    std::vector<int32_t> column(801);
    source.begin({-0.75, 0.1, 0.05}, 4.0, 20000);
    for (int col = 0; col < 3; ++col) {
        source.column(col, column.data());
    }
    // The next run starts while workers may still be busy with the first.
    const core::View view{0.25, 0.0, 0.01};
    source.begin(view, 4.0, 500);
    std::vector<int32_t> expected(801);
    for (int col = 0; col <= 800; col += 1) {
        core::referenceColumns(view, 4.0, 500, col, 1, expected.data());
        source.column(col, column.data());
        ASSERT_EQ(column, expected) << col;
    }
}

TEST(ThreadedCountsPool, ReportsTheFirstFaultInSweepOrder) {
    // Column 0 escapes at once near the bottom and overflows higher up; every
    // column after it faults too.
    const core::View view{0.0, 1.2e154, 1.2e154};
    std::vector<int32_t> expected(801);
    const core::SweepFault fault = core::referenceColumns(view, 4.0, 256, 0, 1, expected.data());
    ASSERT_TRUE(fault.any());
    compute::ThreadedCountSource source(2);
    source.begin(view, 4.0, 256);
    std::vector<int32_t> column(801);
    EXPECT_EQ(source.column(0, column.data()), fault.row);
    for (int row = 800; row > fault.row; --row) {
        EXPECT_EQ(column[static_cast<size_t>(row)], expected[static_cast<size_t>(row)]);
    }
}

struct FaultRow {
    const char* name;
    core::View view;
    int32_t rep;
};

// Workers compute blocks of columns in one call, which stops at the first
// fault; every column must still come out as if computed alone.
TEST(ThreadedCountsPool, EveryColumnReportsItsOwnFault) {
    const FaultRow rows[] = {
        // cx from 0.65e154 to 1.35e154: from some column on, step 0 overflows
        // in every column, at a row that moves as cx grows.
        {"right half overflows", {1e154, 0.0, 0.35e154}, 100},
        // cy from 0 to 1e154: from column 155 on, step 0 overflows below a
        // row that climbs as cx grows.
        {"climbing fault", {1.2e154, 0.5e154, 0.5e154}, 100},
    };
    for (const FaultRow& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<int32_t> expected(801);
        compute::ThreadedCountSource source(2);
        source.begin(r.view, 4.0, r.rep);
        std::vector<int32_t> column(801);
        int faulting = 0;
        for (int col = 0; col <= 800; ++col) {
            const core::SweepFault want =
                core::referenceColumns(r.view, 4.0, r.rep, col, 1, expected.data());
            const int got = source.column(col, column.data());
            ASSERT_EQ(got, want.any() ? want.row : -1) << "column " << col;
            faulting += want.any();
            for (int row = 800; row > got; --row) {
                ASSERT_EQ(column[static_cast<size_t>(row)], expected[static_cast<size_t>(row)])
                    << "column " << col << ", row " << row;
            }
        }
        EXPECT_GT(faulting, 1) << "the view should fault in several columns";
        EXPECT_LT(faulting, 801) << "the view should also have columns without a fault";
    }
}

}  // namespace
