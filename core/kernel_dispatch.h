#pragma once

namespace core {

// Name of the instruction set computeColumns runs on right now (Highway's
// target name, e.g. "AVX3"). Tests use it to prove that each target they
// select is the one actually running.
const char* kernelTargetName();

}  // namespace core
