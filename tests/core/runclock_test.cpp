#include "core/runclock.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct RunSecondsRow {
    const char* name;
    float start, now;  // seconds since midnight
    int32_t seconds;
};

const RunSecondsRow kRows[] = {
    {"no_time", 5.0f, 5.0f, 0},
    {"below_a_half", 10.0f, 10.4f, 0},
    {"half_to_even_down", 10.0f, 12.5f, 2},
    {"half_to_even_up", 10.0f, 13.5f, 4},
    {"above_a_half", 10.0f, 12.6f, 3},
    {"whole_day_less_one", 0.0f, 86399.0f, 86399},
    {"across_midnight", 86390.0f, 20.0f, 30},
    // -86399.5 rounds to the even -86400: half a second, as 0.
    {"across_midnight_half_to_even", 86399.5f, 0.0f, 0},
    // -86398.5 rounds to the even -86398: a second and a half, as 2.
    {"across_midnight_by_one_and_a_half", 86399.0f, 0.5f, 2},
    // In single precision 86399.7 is 86399.703125 and the difference
    // 86399.703125 - 0.25 = 86399.453125 rounds to 86399.
    {"single_precision_difference", 0.25f, 86399.7f, 86399},
    {"not_a_number_counts_as_no_time", 0.0f, NAN, 0},
};

class RunSeconds : public testing::TestWithParam<RunSecondsRow> {};

TEST_P(RunSeconds, FollowTheRule) {
    const RunSecondsRow& r = GetParam();
    EXPECT_EQ(core::runSeconds(r.start, r.now), r.seconds) << r.start << " to " << r.now;
}

INSTANTIATE_TEST_SUITE_P(Rows, RunSeconds, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
