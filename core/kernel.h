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

// How many columns a caller sharing `remaining` columns among `threads`
// threads should pass to one computeColumns call. Within a call the lanes
// freed at the end of one column go straight on with the next, while each
// call ends with its last pixels in half-empty vectors, so blocks of several
// columns are faster than one column a call. Towards the end of a picture
// the calls shrink, so that no thread is left alone with a long last one.
inline constexpr int kMostColumnsPerCall = 8;
inline int columnsPerCall(int remaining, unsigned threads) {
    constexpr int kMost = kMostColumnsPerCall;
    const int share = remaining / (4 * static_cast<int>(threads == 0 ? 1 : threads));
    return share < 1 ? 1 : share > kMost ? kMost : share;
}

// The same with escCount, one point at a time: the reference the fast path
// is held to.
SweepFault referenceColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                            int32_t* out);

}  // namespace core
