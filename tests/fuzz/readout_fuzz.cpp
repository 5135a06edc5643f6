// The read-out of any double: at least 16 characters, a blank in front only
// when the value's own text is shorter, and the text reads back as the value
// rounded to 13 decimals.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/readout.h"
#include "core/textnum.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < sizeof(double)) {
        return 0;
    }
    double v;
    std::memcpy(&v, data, sizeof v);
    if (!std::isfinite(v)) {
        return 0;  // the read-out never sees these: such a view faults first
    }
    const std::string text = core::readoutText(v);
    if (text.size() < 16) {
        std::abort();
    }
    // A blank in front only to fill 16 characters, never more than one.
    if ((text[0] == ' ' && text.size() != 16) || text[text[0] == ' ' ? 1 : 0] == ' ') {
        std::abort();
    }
    const std::string::size_type point = text.find('.');
    if (point == std::string::npos || text.size() - point - 1 != 13) {
        std::abort();
    }
    const core::Outcome<double> back = core::textToNumber(text);
    if (!back.ok()) {
        std::abort();
    }
    // Within half a unit of the 13th decimal, plus the rounding of both
    // conversions for large values.
    const double tolerance = 0.5e-13 + std::fabs(v) * 4e-16;
    if (std::fabs(back.value - v) > tolerance) {
        std::abort();
    }
    return 0;
}
