#include "compute/kernel_count_source.h"

#include "core/kernel.h"

namespace compute {

void KernelCountSource::begin(const core::View& view, double lim, int32_t rep) {
    view_ = view;
    lim_ = lim;
    rep_ = rep;
}

int KernelCountSource::column(int col, int32_t* out) {
    const core::SweepFault fault = core::computeColumns(view_, lim_, rep_, col, 1, out);
    return fault.any() ? fault.row : -1;
}

void ReferenceCountSource::begin(const core::View& view, double lim, int32_t rep) {
    view_ = view;
    lim_ = lim;
    rep_ = rep;
}

int ReferenceCountSource::column(int col, int32_t* out) {
    const core::SweepFault fault = core::referenceColumns(view_, lim_, rep_, col, 1, out);
    return fault.any() ? fault.row : -1;
}

}  // namespace compute
