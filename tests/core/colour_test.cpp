#include "core/colour.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using core::ColorOf;

core::ColTable numberedTable() {
    core::ColTable t{};
    for (int i = 0; i < core::kColTblSize; ++i) {
        t[static_cast<size_t>(i)] = 0x100 + i;
    }
    return t;
}

struct ColourRow {
    const char* name;
    int32_t count, rep, mode, colour;
};

class Colours : public testing::TestWithParam<ColourRow> {};

TEST_P(Colours, MatchTheTable) {
    const ColourRow& r = GetParam();
    EXPECT_EQ(ColorOf(r.count, r.rep, r.mode, numberedTable()), r.colour)
        << "count " << r.count << " rep " << r.rep << " mode " << r.mode;
}

const ColourRow kRows[] = {
    {"zero_is_white", 0, 256, 2, 0xFFFFFF},
    {"zero_is_white_for_negative_rep", 0, -1, 1, 0xFFFFFF},
    {"negative_count_is_white", -7, 256, 4, 0xFFFFFF},
    {"above_negative_rep_is_black", 3, -1, 4, 0},
    {"inside_is_black", 257, 256, 0, 0},
    {"above_smaller_rep_is_black", 300, 256, 2, 0},
    {"mode0_count24_entry0", 24, 256, 0, 0x100},
    {"mode0_count1_entry1", 1, 256, 0, 0x101},
    {"mode0_count25_entry1", 25, 256, 0, 0x101},
    {"mode0_count23_entry23", 23, 256, 0, 0x100 + 23},
    {"mode1_count1", 1, 256, 1, 0},
    {"mode1_count32", 32, 256, 1, 0},
    {"mode1_count33", 33, 256, 1, 0x202020},
    {"mode1_count65", 65, 256, 1, 0x404040},
    {"mode1_count225", 225, 256, 1, 0xE0E0E0},
    {"mode1_count255", 255, 256, 1, 0xE0E0E0},
    {"mode1_rep9_count8", 8, 9, 1, 0xE0E0E0},
    {"mode2_count2", 2, 256, 2, 0x010101},
    {"mode2_count34", 34, 256, 2, 0x212121},
    {"mode2_count129", 129, 256, 2, 0x808080},
    {"mode2_count255", 255, 256, 2, 0xFEFEFE},
    {"mode2_rep257_count256", 256, 257, 2, 0xFFFFFF},
    {"mode3_count33", 33, 256, 3, 0xFF},
    {"mode3_count65", 65, 256, 3, 0xFF00},
    {"mode3_count128", 128, 256, 3, 0xFFFF},
    {"mode3_count129", 129, 256, 3, 0xFF0000},
    {"mode3_count255", 255, 256, 3, 0xFFFFFF},
    {"mode4_count1", 1, 256, 4, 0},
    {"mode4_count2", 2, 256, 4, 0x48},
    {"mode4_count3", 3, 256, 4, 0x90},
    {"mode4_count33", 33, 256, 4, 0x240000},
    {"mode4_count34", 34, 256, 4, 0x240048},
    {"mode4_count64", 64, 256, 4, 0x24FCD8},
    {"mode4_count255", 255, 256, 4, 0xFCFCB4},
    {"mode4_rep513_count2", 2, 513, 4, 0x24},
    {"mode4_rep513_count9", 9, 513, 4, 0x2400},
    {"mode4_rep513_count65", 65, 513, 4, 0x240000},
    {"mode4_rep513_count512", 512, 513, 4, 0xFCFCFC},
    {"mode5_is_mode4", 64, 256, 5, 0x24FCD8},
    {"mode_minus1_is_mode4", 64, 256, -1, 0x24FCD8},
    // A count equal to rep (escaping at the last step tried) takes the top
    // level instead of a value beyond white.
    {"count_eq_rep_mode1", 256, 256, 1, 0xE0E0E0},
    {"count_eq_rep_mode2", 256, 256, 2, 0xFFFFFF},
    {"count_eq_rep_mode3", 256, 256, 3, 0xFFFFFF},
    {"count_eq_rep_mode4", 256, 256, 4, 0xFCFCFC},
    {"rep1_does_not_divide_by_zero", 1, 1, 2, 0xFFFFFF},
    {"rep1_mode0", 1, 1, 0, 0x101},
    // Large repeat counts: the level is worked out without overflow.
    {"big_count_mode2", 2000000000, 2147483647, 2, 0xEEEEEE},
    {"big_count_mode4", 2147483646, 2147483647, 4, 0xFCFCFC},
    {"max_rep_mode0", 2147483647, 2147483647, 0, 0x100 + 2147483647 % 24},
};
INSTANTIATE_TEST_SUITE_P(Rows, Colours, testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ColoursMode3, EightLevelsInOrder) {
    const int32_t expected[] = {0, 0xFF, 0xFF00, 0xFFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    for (int32_t count = 1; count <= 8; ++count) {
        EXPECT_EQ(ColorOf(count, 9, 3, {}), expected[count - 1]) << count;
    }
    EXPECT_EQ(ColorOf(10, 9, 3, {}), 0);
}

TEST(ColoursAnyInput, StayWithinTheColourRange) {
    // Every count against every rep lands on a defined 0x00BBGGRR value.
    const int32_t reps[] = {-5, 0, 1, 2, 3, 9, 256, 513, 100000, 2147483647};
    for (int32_t mode = -1; mode <= 5; ++mode) {
        for (int32_t rep : reps) {
            const int64_t r = rep;
            for (int64_t count : {int64_t{0}, int64_t{1}, int64_t{2}, r - 1, r, r + 1}) {
                if (count > INT32_MAX) {
                    continue;
                }
                const int32_t c = ColorOf(static_cast<int32_t>(count), rep, mode, numberedTable());
                EXPECT_GE(c, 0);
                EXPECT_LE(c, 0xFFFFFF) << count << ' ' << rep << ' ' << mode;
            }
        }
    }
}

}  // namespace
