#pragma once

#include <cstdint>
#include <string_view>

#include "outcome.h"

namespace core {

// The leading decimal number of a text, read with the full stop as the
// decimal point whatever the user's locale: leading blanks and tabs, an
// optional sign, digits with at most one full stop, an optional exponent
// (E, e, D or d with an optional sign). Reading stops at the first character
// that does not fit; a text that starts with no number gives 0. A value
// beyond the double range is an overflow, never an infinity.
Outcome<double> textToNumber(std::string_view text);

// Round to the nearest integer, a half to the even neighbour; a result
// outside the target range is an overflow.
Outcome<int32_t> toInt32(double v);
Outcome<int16_t> toInt16(double v);

// textToNumber followed by toInt32.
Outcome<int32_t> textToInt32(std::string_view text);

}  // namespace core
