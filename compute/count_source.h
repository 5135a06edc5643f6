#pragma once

#include <cstdint>

#include "core/view.h"

namespace compute {

// Where a render run takes its escape counts from, a whole column at a time
// (column-major, see core::computeColumns). A run calls begin once, then
// column for 0, 1, ..., 800 in order; begin again starts a new run.
class CountSource {
public:
    virtual ~CountSource() = default;
    virtual void begin(const core::View& view, double lim, int32_t rep) = 0;
    // Counts of one column into out[0..800] (by row); the first faulting row
    // in sweep order (800 down to 0), or -1.
    virtual int column(int col, int32_t* out) = 0;
};

}  // namespace compute
