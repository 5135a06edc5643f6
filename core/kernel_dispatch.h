#pragma once

#include <cstdint>

#include "core/kernel.h"

namespace core {

// Name of the instruction set computeColumns runs on right now (Highway's
// target name, e.g. "AVX3"). Tests use it to prove that each target they
// select is the one actually running.
const char* kernelTargetName();

// computeColumns without the exact cycle check: every pixel that never
// escapes runs all rep + 1 steps. The same counts and fault; for tests of the
// plain iteration and for measuring what the check saves.
SweepFault computeColumnsWithoutCycleCheck(const View& view, double lim, int32_t rep, int col0,
                                           int ncols, int32_t* out);

}  // namespace core
