#include "esccount.h"

#include <cmath>
#include <limits>

#include "outcome.h"

namespace core {

EscResult escCount(double cx, double cy, double lim, int32_t rep) {
    double x = 0.0;
    double y = 0.0;
    // The counter runs in 64 bits so that the step after 2147483647, which
    // overflows a 32-bit counter, can be recognised as the fault it is.
    for (int64_t n = 0; n <= rep; ++n) {
        const double xn = (x * x - y * y) + cx;
        const double yn = (2.0 * x) * y + cy;
        x = xn;
        y = yn;
        const double r = x * x + y * y;
        if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(r)) {
            return {static_cast<int32_t>(n), kErrOverflow};
        }
        if (r > lim) {
            return {static_cast<int32_t>(n), 0};
        }
    }
    if (rep < 0) {
        return {0, 0};
    }
    if (rep == std::numeric_limits<int32_t>::max()) {
        return {rep, kErrOverflow};
    }
    return {rep + 1, 0};
}

}  // namespace core
