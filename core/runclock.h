#pragma once

#include <cstdint>

namespace core {

// Whole seconds a run took, from two readings of the seconds since midnight
// (single precision, as the platform gives them): the difference is formed
// in single precision, rounded to the nearest integer with a half going to
// the even neighbour, and a run that crossed midnight gets 86400 added.
int32_t runSeconds(float start, float now);

}  // namespace core
