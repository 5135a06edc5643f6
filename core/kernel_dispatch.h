#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// Lane-steps that the kernel's refill has run on this thread so far, idle
// lanes included, on every target: how much work a sweep took, for tests
// of the order in which it starts its pixels.
uint64_t refillLaneSteps();

// Doubles per vector of the target computeColumns runs on right now.
size_t kernelLanes();

// The kernel's variants: `groups` independent vectors in flight (1 to 8; 0:
// as many as computeColumns takes), with or without the cycle check. Every
// variant gives the same counts and fault.
SweepFault computeColumnsWithGroups(int groups, bool cycleCheck, const View& view, double lim,
                                    int32_t rep, int col0, int ncols, int32_t* out);

// Vectors in flight that computeColumns takes on the current target and CPU.
int kernelGroups();

// Every count of vectors in flight that computeColumns takes on the current
// target on some CPU: the variants that tests hold to the reference.
std::vector<int> kernelGroupChoices();

// A CPU as the choice of vectors in flight sees it (cpuid).
struct Cpu {
    bool amd = false;
    int family = 0;  // base plus extended family: 0x19 Zen 3 and 4, 0x1A Zen 5
};

// Vectors in flight for a target with AVX-512 or without, on `cpu`.
int groupsInFlightFor(bool avx512, const Cpu& cpu);

// The step ceiling: `chains` (4 to 8) independent vectors of the kernel's
// step, in the kernel's order of operations, for `steps` steps each, with no
// exits and nothing else in the loop. Each lane counts the steps whose |z|^2
// is within 4, in integer lanes, as the kernel does; c lies in the main
// cardioid, so every orbit stays finite and normal and every step counts.
// Returns the total count, chains * kernelLanes() * steps, so that a
// benchmark can divide the lane-steps by the time: the most that any kernel
// doing this step can reach on the target.
//
// With runningMask, each lane counts under the mask of lanes still running,
// which every step also updates, as the kernel's Step does to give exact
// counts. Where masks live in vector registers (AVX2), that is one more
// operation on the same ports; with AVX-512's mask registers it costs next
// to nothing.
int64_t stepCeiling(int chains, int64_t steps, bool runningMask = false);

}  // namespace core
