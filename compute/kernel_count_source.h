#pragma once

#include <cstdint>

#include "compute/count_source.h"

namespace compute {

// The vector kernel on the calling thread, one column at a time.
class KernelCountSource : public CountSource {
public:
    void begin(const core::View& view, double lim, int32_t rep) override;
    int column(int col, int32_t* out) override;

private:
    core::View view_;
    double lim_ = 0.0;
    int32_t rep_ = 0;
};

// The one-point reference (core::escCount) on the calling thread, one column
// at a time: the slow path every fast one is measured and checked against.
class ReferenceCountSource : public CountSource {
public:
    void begin(const core::View& view, double lim, int32_t rep) override;
    int column(int col, int32_t* out) override;

private:
    core::View view_;
    double lim_ = 0.0;
    int32_t rep_ = 0;
};

}  // namespace compute
