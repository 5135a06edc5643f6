#include "core/numfmt.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "core/readout.h"

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

// A desktop with a comma decimal sets the C library's locale when the
// toolkit starts; the program's texts keep the full stop.
TEST(Patterns, SameUnderACommaDecimalLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr)
        << "the test set-up generates de_DE.UTF-8";
    const std::string fixed = core::formatFixed13(-1.5);
    const std::string readout = core::readoutText(0.25);
    const std::string size = core::zoomSizeText("2.0000000000000").value_or("none");
    const std::string three = core::formatThreeDigits(7);
    const std::string big = core::formatAtLeastOneDigit(1234567);
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(fixed, "-1.5000000000000");
    EXPECT_EQ(readout, " 0.2500000000000");
    EXPECT_EQ(size, "0.2000000000000");
    EXPECT_EQ(three, "007");
    EXPECT_EQ(big, "1234567");
}

}  // namespace
