#pragma once

#include <cstdint>
#include <string>

namespace core {

// "####": the decimal digits, no leading blanks or zeros, a minus sign when
// negative. Zero gives the empty text, as the pattern has no forced digit.
std::string formatHashes(int64_t v);

// "##0": at least one digit, no separators.
std::string formatAtLeastOneDigit(int64_t v);

// "000": at least three digits with leading zeros.
std::string formatThreeDigits(int64_t v);

// "#0.0000000000000": at least one digit before the point and exactly 13
// after it, rounded to nearest; "." as the point, no grouping.
std::string formatFixed13(double v);

}  // namespace core
