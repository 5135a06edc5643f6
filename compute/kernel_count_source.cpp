#include "compute/kernel_count_source.h"

namespace compute {

void ColumnFunctionSource::begin(const core::View& view, double lim, int32_t rep) {
    view_ = view;
    lim_ = lim;
    rep_ = rep;
}

int ColumnFunctionSource::column(int col, int32_t* out) {
    const core::SweepFault fault = fn_(view_, lim_, rep_, col, 1, out);
    return fault.any() ? fault.row : -1;
}

}  // namespace compute
