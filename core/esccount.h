#pragma once

#include <cstddef>
#include <cstdint>

#include "outcome.h"

namespace core {

// Bound on |z|^2, the square of the escape radius 2.
inline constexpr double kEscLim = 4.0;

// Count of a point and the fault record of its computation.
struct EscResult {
    int32_t count = 0;
    int err = 0;  // kErrOverflow when a step left the double range or the counter overflowed
};

// The one-point reference of the escape count of c = (cx, cy) under
// z <- z^2 + c from z = 0. Step n (0 ... rep) computes
//   x' = (x*x - y*y) + cx,  y' = (2*x)*y + cy,  r = x'*x' + y'*y'
// and stops with count n when r > lim; rep + 1 when no step escapes, 0 when
// rep < 0. A non-finite x', y' or r is a fault (it can only happen at the
// first step), and so is the counter passing 2147483647 when rep is that.
EscResult escCount(double cx, double cy, double lim, int32_t rep);

// The fixed text of a computation fault: with the error number, the report
// reads "6 XX-YY 演算異常" before the program ends.
inline constexpr const char* kComputeFaultText = " XX-YY 演算異常";

}  // namespace core
