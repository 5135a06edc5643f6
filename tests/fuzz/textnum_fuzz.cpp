// Text to number and the integer rounding on any text: a result is finite
// or an overflow; rounding goes to the nearest integer, halves to even, and
// is an overflow exactly when the rounded value leaves the range.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/textnum.h"

namespace {

template <class Int>
void checkRounding(double v, core::Outcome<Int> r, double lo, double hi) {
    const double nearest = std::nearbyint(v);
    const bool inRange = nearest >= lo && nearest <= hi;
    if (r.ok() != inRange || (!r.ok() && r.err != core::kErrOverflow)) {
        std::abort();
    }
    if (!r.ok()) {
        return;
    }
    const double d = std::fabs(static_cast<double>(r.value) - v);
    if (d > 0.5 || (d == 0.5 && r.value % 2 != 0)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const core::Outcome<double> v = core::textToNumber(text);
    if (v.ok() ? !std::isfinite(v.value) : v.err != core::kErrOverflow) {
        std::abort();
    }
    if (!v.ok()) {
        return 0;
    }
    checkRounding(v.value, core::toInt32(v.value), -2147483648.0, 2147483647.0);
    checkRounding(v.value, core::toInt16(v.value), -32768.0, 32767.0);

    // Any double from the raw bytes rounds by the same rule.
    if (size >= sizeof(double)) {
        double raw;
        __builtin_memcpy(&raw, data, sizeof raw);
        checkRounding(raw, core::toInt32(raw), -2147483648.0, 2147483647.0);
    }
    return 0;
}
