#pragma once

#include <cstdint>

#include "compute/count_source.h"
#include "core/kernel.h"

namespace compute {

// Counts from a column function of core (the kernel or the one-point
// reference) on the calling thread, one column at a time.
class ColumnFunctionSource : public CountSource {
public:
    using ColumnFn = core::SweepFault (*)(const core::View&, double, int32_t, int, int, int32_t*);

    explicit ColumnFunctionSource(ColumnFn fn) : fn_(fn) {}
    void begin(const core::View& view, double lim, int32_t rep) override;
    int column(int col, int32_t* out) override;

private:
    ColumnFn fn_;
    core::View view_;
    double lim_ = 0.0;
    int32_t rep_ = 0;
};

// The vector kernel.
class KernelCountSource : public ColumnFunctionSource {
public:
    KernelCountSource() : ColumnFunctionSource(core::computeColumns) {}
};

// The one-point reference (core::escCount): the slow path every fast one is
// measured and checked against.
class ReferenceCountSource : public ColumnFunctionSource {
public:
    ReferenceCountSource() : ColumnFunctionSource(core::referenceColumns) {}
};

}  // namespace compute
