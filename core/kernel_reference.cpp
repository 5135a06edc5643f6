#include "esccount.h"
#include "kernel.h"

namespace core {

SweepFault referenceColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                            int32_t* out) {
    for (int c = 0; c < ncols; ++c) {
        const int col = col0 + c;
        const double x = pixelX(col, view);
        for (int row = kPicSide - 1; row >= 0; --row) {
            const EscResult r = escCount(x, pixelY(row, view), lim, rep);
            out[static_cast<size_t>(c) * kPicSide + row] = r.count;
            if (r.err != 0) {
                return {col, row};
            }
        }
    }
    return {};
}

}  // namespace core
