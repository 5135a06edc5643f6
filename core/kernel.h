#pragma once

#include <cstdint>

#include "view.h"

namespace core {

// Where the sequential sweep (columns left to right, each column from row
// 800 up to row 0) first meets a fault, if anywhere.
struct SweepFault {
    int col = -1;  // -1: no fault
    int row = -1;

    bool any() const { return col >= 0; }
};

// Counts of columns col0 .. col0 + ncols - 1 of the view, bit-identical to
// escCount for every pixel. out is column-major: the count of (col, row) goes
// to out[(col - col0) * 801 + row]. On a fault it returns the first faulting
// pixel in sweep order; counts of the pixels before it in that order are
// valid, the rest are unspecified. Uses the widest vector unit the machine
// offers; allocates nothing.
SweepFault computeColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                          int32_t* out);

// The same with escCount, one point at a time: the reference the fast path
// is held to.
SweepFault referenceColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                            int32_t* out);

}  // namespace core
