#pragma once

#include <chrono>
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
    // Waits at most `timeout` for column col (the next one the run takes);
    // true when column(col) will return without computing or waiting. A
    // source that computes on the calling thread is always ready.
    virtual bool waitReady(int col, std::chrono::milliseconds timeout) {
        (void)col;
        (void)timeout;
        return true;
    }
};

}  // namespace compute
