#include "core/textnum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

using core::kErrOverflow;

struct NumberRow {
    const char* name;
    std::string text;
    double value;
    int err;
};

class TextToNumber : public testing::TestWithParam<NumberRow> {};

TEST_P(TextToNumber, ReadsTheLeadingNumber) {
    const NumberRow& row = GetParam();
    const auto got = core::textToNumber(row.text);
    EXPECT_EQ(got.err, row.err) << '"' << row.text << '"';
    if (row.err == 0) {
        EXPECT_EQ(got.value, row.value) << '"' << row.text << '"';
    }
}

const NumberRow kNumbers[] = {
    {"plain", "2.0000000000000", 2.0, 0},
    {"readout_with_leading_blank", " 1.5000000000000", 1.5, 0},
    {"tabs_and_blanks", "\t  -0.25", -0.25, 0},
    {"explicit_plus", "+.5", 0.5, 0},
    {"point_first", ".125", 0.125, 0},
    {"trailing_point", "7.", 7.0, 0},
    {"stops_at_second_point", "1.5.3", 1.5, 0},
    {"stops_at_letter", "12abc", 12.0, 0},
    {"exponent_upper", "1E3", 1000.0, 0},
    {"exponent_lower_signed", "25e-1", 2.5, 0},
    {"exponent_d", "1D2", 100.0, 0},
    {"exponent_d_lower_plus", "3d+1", 30.0, 0},
    {"exponent_without_digits", "1e", 1.0, 0},
    {"exponent_sign_without_digits", "1E+", 1.0, 0},
    {"empty", "", 0.0, 0},
    {"blanks_only", "   ", 0.0, 0},
    {"letters", "abc", 0.0, 0},
    {"sign_only", "-", 0.0, 0},
    {"point_only", ".", 0.0, 0},
    {"hex_prefix_is_not_a_number", "&H10", 0.0, 0},
    {"full_width_digits", "\xEF\xBC\x91\xEF\xBC\x92", 0.0, 0},
    {"blank_after_sign_ends_it", "- 5", 0.0, 0},
    {"embedded_newline", "3\n4", 3.0, 0},
    {"comma_is_not_a_point", "1,5", 1.0, 0},
    {"underflow_is_zero", "1E-400", 0.0, 0},
    {"largest_double", "1.7976931348623157E308", 1.7976931348623157e308, 0},
    {"overflow", "1E400", 0.0, kErrOverflow},
    {"negative_overflow", "-1E400", 0.0, kErrOverflow},
    {"huge_mantissa", std::string(400, '9'), 0.0, kErrOverflow},
    {"long_text", "5" + std::string(9999, 'x'), 5.0, 0},
    {"long_fraction", "0." + std::string(9998, '3'), 1.0 / 3.0, 0},
};
INSTANTIATE_TEST_SUITE_P(Rows, TextToNumber, testing::ValuesIn(kNumbers),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextToNumberText, EmbeddedNulEndsTheNumber) {
    const std::string text(
        "42\0"
        "7",
        4);
    EXPECT_EQ(core::textToNumber(text).value, 42.0);
}

struct RoundRow {
    const char* name;
    double in;
    int32_t out;
    int err;
};

class RoundToInt32 : public testing::TestWithParam<RoundRow> {};

TEST_P(RoundToInt32, HalvesGoToEven) {
    const RoundRow& row = GetParam();
    const auto got = core::toInt32(row.in);
    EXPECT_EQ(got.err, row.err);
    if (row.err == 0) {
        EXPECT_EQ(got.value, row.out);
    }
}

const RoundRow kRounds[] = {
    {"half_down_to_even", 12.5, 12, 0},
    {"half_up_to_even", 13.5, 14, 0},
    {"negative_half", -2.5, -2, 0},
    {"below_half", 2.4999999999999996, 2, 0},
    {"above_half", 2.5000000000000004, 3, 0},
    {"max", 2147483647.0, 2147483647, 0},
    {"max_plus_half_overflows", 2147483647.5, 0, kErrOverflow},
    {"min_minus_half_is_even", -2147483648.5, -2147483648, 0},
    {"min_minus_more_overflows", -2147483648.6, 0, kErrOverflow},
    {"big", 99999999999.0, 0, kErrOverflow},
    {"nan", std::nan(""), 0, kErrOverflow},
    {"infinity", HUGE_VAL, 0, kErrOverflow},
};
INSTANTIATE_TEST_SUITE_P(Rows, RoundToInt32, testing::ValuesIn(kRounds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RoundToInt16, RangeAndHalves) {
    EXPECT_EQ(core::toInt16(100.5).value, 100);
    EXPECT_EQ(core::toInt16(101.5).value, 102);
    EXPECT_EQ(core::toInt16(32767.0).value, 32767);
    EXPECT_EQ(core::toInt16(-32768.5).value, -32768);
    EXPECT_EQ(core::toInt16(32767.5).err, kErrOverflow);
    EXPECT_EQ(core::toInt16(-32769.0).err, kErrOverflow);
}

TEST(TextToInt32, CombinesBothRules) {
    EXPECT_EQ(core::textToInt32("13.5").value, 14);
    EXPECT_EQ(core::textToInt32("").value, 0);
    EXPECT_EQ(core::textToInt32("2147483647.5").err, kErrOverflow);
    EXPECT_EQ(core::textToInt32("-2147483648.5").value, -2147483648);
    EXPECT_EQ(core::textToInt32("1E400").err, kErrOverflow);
}

}  // namespace
