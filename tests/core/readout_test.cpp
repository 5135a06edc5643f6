#include "core/readout.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Readout, SixteenCharactersWithABlankInFront) {
    const struct {
        double v;
        const char* text;
    } rows[] = {
        {0.0, " 0.0000000000000"},
        {1.0, " 1.0000000000000"},
        {-1.5, "-1.5000000000000"},
        {9.99999999999994, " 9.9999999999999"},
        {9.99999999999996, "10.0000000000000"},  // rounds up to two digits
        {12.5, "12.5000000000000"},
        {99.5, "99.5000000000000"},
        // Longer values show whole instead of losing the sign or digits.
        {-12.5, "-12.5000000000000"},
        {123.25, "123.2500000000000"},
        {-1e20, "-100000000000000000000.0000000000000"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(core::readoutText(r.v), r.text) << r.v;
    }
}

TEST(ZoomSize, DividesByTenWhenTheTextAllows) {
    const struct {
        const char* picSc;
        const char* next;  // nullptr: tSc is left alone
    } rows[] = {
        {"2.0000000000000", "0.2000000000000"},
        {"0.2000000000000", "0.0200000000000"},
        {"2.5", "0.2500000000000"},
        {"3.0000000000000", "0.3000000000000"},
        {"1.23456789012345678", "0.1234567890123"},
        {"0.0000000000020", "0.0000000000002"},
        {"0.0000000000010", "0.0000000000001"},  // exactly 1E-12 is still allowed
        {"0.0000000000002", nullptr},            // below 1E-12
        {"3.5000000000000", nullptr},            // above 3
        {"10.000000000000", nullptr},            // second character not "."
        {"2", nullptr},                          // no second character
        {"", nullptr},
        {"-1.5000000000000", nullptr},
        {" 1.5000000000000", nullptr},
        {"1.5E400", nullptr},           // no number fits: left alone
        {"1.5e-13", nullptr},           // the exponent counts
        {"1.5e-1", "0.15e-100000000"},  // the rule moves characters, not values
        {"1.５", "0.1５00000000000"},   // characters, not bytes
    };
    for (const auto& r : rows) {
        const auto got = core::zoomSizeText(r.picSc);
        if (r.next == nullptr) {
            EXPECT_FALSE(got.has_value()) << r.picSc << " gave " << got.value_or("");
        } else {
            ASSERT_TRUE(got.has_value()) << r.picSc;
            EXPECT_EQ(*got, r.next) << r.picSc;
        }
    }
}

TEST(ZoomSize, ThirteenClicksFromTheDefaultThenNoMore) {
    std::string size = "2.0000000000000";
    int clicks = 0;
    while (const auto next = core::zoomSizeText(size)) {
        size = *next;
        ++clicks;
    }
    EXPECT_EQ(clicks, 13);
    EXPECT_EQ(size, "0.0000000000002");
}

}  // namespace
