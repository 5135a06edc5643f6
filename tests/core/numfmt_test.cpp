#include "core/numfmt.h"

#include <gtest/gtest.h>

namespace {

TEST(Patterns, Integers) {
    EXPECT_EQ(core::formatHashes(6), "6");
    EXPECT_EQ(core::formatHashes(481), "481");
    EXPECT_EQ(core::formatHashes(-3), "-3");
    EXPECT_EQ(core::formatAtLeastOneDigit(0), "0");
    EXPECT_EQ(core::formatAtLeastOneDigit(1234), "1234");
    EXPECT_EQ(core::formatThreeDigits(0), "000");
    EXPECT_EQ(core::formatThreeDigits(7), "007");
    EXPECT_EQ(core::formatThreeDigits(999), "999");
}

struct FixedRow {
    double in;
    const char* out;
};

TEST(Patterns, FixedThirteenDecimals) {
    const FixedRow rows[] = {
        {0.0, "0.0000000000000"},       {-0.0, "0.0000000000000"},
        {1.0, "1.0000000000000"},       {-1.5, "-1.5000000000000"},
        {0.005, "0.0050000000000"},     {-12.5, "-12.5000000000000"},
        {123.25, "123.2500000000000"},  {1e-14, "0.0000000000000"},
        {5e-14, "0.0000000000001"},  // the double lies just above the half
        {2.0 / 3.0, "0.6666666666667"},
    };
    for (const FixedRow& row : rows) {
        EXPECT_EQ(core::formatFixed13(row.in), row.out) << row.in;
    }
}

}  // namespace
