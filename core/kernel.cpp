// The vector escape-count kernel. Highway compiles the code between
// HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE once per instruction set
// (foreach_target.h re-includes this file) and picks the best one the CPU
// has at run time.
//
// Each column goes through two phases.
//  1. Opening: the column's rows, one vector of consecutive rows per lane
//     set, run the first kOpening (to kOpening + C - 1, C the chunk's steps)
//     steps side by side. Neighbouring pixels escape at similar steps, so
//     most vectors finish together and early; their counts are final. A
//     batch of as many vectors as are in flight whose lanes all still run
//     goes on in stretches of C steps for as long as that holds (with the
//     cycle check at each stretch's end), which keeps most of the boundary
//     view's pixels out of the refill.
//  2. Refill: the pixels still running continue in vector lanes that carry
//     their own c, z and step count. Lanes run in chunks of C steps; a lane
//     whose pixel escaped or ran out of steps idles until the chunk ends,
//     then writes its count and takes the next pixel, which may come from
//     the next column. At every other chunk end a running lane's z is
//     compared with a z it saved earlier (see "exact cycles" in
//     kernel_step-inl.h): an exact repeat means that the orbit cycles and
//     never escapes, and the pixel is done. A chunk either tests and counts
//     at every step or stores each step's |z|^2 and counts from those rows
//     at its end, whichever the machine runs faster (CountsInLoop).
// Several independent vectors (groups) are in flight in both phases so that
// the multiply and add latencies overlap; each step is a long dependent
// chain. How many, and with them the chunk's steps and the batch's shape,
// depends on the machine (groupsInFlightFor). What was measured and tried
// is in docs/kernel-measurements.md.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "core/kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Must come after foreach_target.h.
#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

#include "core/esccount.h"
#include "core/kernel.h"
#include "core/kernel_dispatch.h"

#ifndef QUARLO_KERNEL_SHARED
#define QUARLO_KERNEL_SHARED

namespace core::kernel_detail {

// Above this bound on |z|^2 a step after the first could overflow (|z| up to
// sqrt(lim) squares to lim, plus c, squared again: about 5 * lim^2). Below it
// the only fault is at step 0, which the sweep checks before iterating.
inline constexpr double kLimFast = 1e150;

// Whether step 0 is finite for every pixel of the block. The mapping is
// monotone in the column and row (each rounded operation is), so |cx| and |cy|
// are largest at the block's edges, and so is cx*cx + cy*cy.
inline bool step0FiniteEverywhere(const View& view, int col0, int ncols, const double* ys) {
    const double xs[] = {pixelX(col0, view), pixelX(col0 + ncols - 1, view)};
    const double yv[] = {ys[0], ys[kPicSide - 1]};
    for (double v : {xs[0], xs[1], yv[0], yv[1]}) {
        if (!std::isfinite(v)) {
            return false;
        }
    }
    const double mx = std::max(std::fabs(xs[0]), std::fabs(xs[1]));
    const double my = std::max(std::fabs(yv[0]), std::fabs(yv[1]));
    return std::isfinite(mx * mx + my * my);
}

// The first row, in sweep order (800 down to 0), whose step 0 is not finite
// at column x, or -1.
inline int firstStep0Fault(double x, const double* ys, double lim) {
    for (int row = kPicSide - 1; row >= 0; --row) {
        // With rep 0 the reference runs exactly step 0, and an error from it
        // can only be the non-finite fault.
        if (escCount(x, ys[row], lim, 0).err != 0) {
            return row;
        }
    }
    return -1;
}

// Lane-steps that the refill's chunks of every target ran on this thread,
// idle lanes included (see refillLaneSteps).
inline thread_local uint64_t refillLaneSteps = 0;

// This CPU's vendor and family, from cpuid; an unknown CPU elsewhere.
inline Cpu thisCpu() {
    Cpu cpu;
#if defined(__x86_64__) || defined(__i386__)
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(0, &a, &b, &c, &d) != 0) {
        // "AuthenticAMD" in ebx, edx, ecx.
        cpu.amd = b == 0x68747541 && d == 0x69746e65 && c == 0x444d4163;
    }
    if (__get_cpuid(1, &a, &b, &c, &d) != 0) {
        const int base = static_cast<int>((a >> 8) & 0xF);
        cpu.family = base == 0xF ? base + static_cast<int>((a >> 20) & 0xFF) : base;
    }
#endif
    return cpu;
}

}  // namespace core::kernel_detail

#endif  // QUARLO_KERNEL_SHARED

// The parts, each compiled once per target as this file is: the vectors and
// the step; the opening and the refill's chunks; the feed of pixels and rows.
// This file holds the scalar checks of step 0, the ceiling and the entry.
#include "core/kernel_chunks-inl.h"
#include "core/kernel_feed-inl.h"
#include "core/kernel_step-inl.h"

HWY_BEFORE_NAMESPACE();
namespace core {
namespace HWY_NAMESPACE {
namespace {

// ---------------------------------------------------------------- ceiling

// C chains of the step with no exits: see stepCeiling. Each chain's c is a
// different point of the main cardioid, whose orbit settles on an attracting
// fixed point: finite and far from subnormal, so no step is slowed down.
// kMask: count under the mask of running lanes, as the kernel's Step does.
template <size_t C, bool kMask>
HWY_NOINLINE int64_t Ceiling(int64_t steps) {
    const D d;
    const DI di;
    const V lim = hn::Set(d, kEscLim);
    const VI one = hn::Set(di, 1);
    // Unrolled, as the kernel's groups are (EachGroup), so that every
    // chain stays in registers; up to 8 chains on every target.
    Group gs[C];
    const auto each = [&gs](const auto& f) { EachGroupOf(gs, f, std::make_index_sequence<C>()); };
    each([&](Group& v, size_t c) {
        const V i = hn::Iota(d, static_cast<double>(c * kLanes));
        v = Group{hn::Zero(d),
                  hn::Zero(d),
                  hn::Zero(d),
                  hn::Sub(hn::Set(d, -0.1), hn::Mul(i, hn::Set(d, 1e-3))),
                  hn::Add(hn::Set(d, 0.1), hn::Mul(i, hn::Set(d, 1e-3))),
                  hn::Zero(di),
                  hn::Eq(hn::Zero(d), hn::Zero(d))};
    });
    for (int64_t i = 0; i < steps; ++i) {
        each([&](Group& v, size_t) {
            const V r = Advance(v.x, v.y, v.diff, v.cx, v.cy);
            if constexpr (kMask) {
                v.act = StillIn(v.act, r, lim);
                v.cnt = CountIf(v.cnt, v.act, one);
            } else {
                v.cnt = CountIf(v.cnt, hn::Le(r, lim), one);
            }
        });
    }
    alignas(64) int64_t lanes[kLanes];
    int64_t total = 0;
    each([&](Group& v, size_t) {
        hn::Store(v.cnt, di, lanes);
        for (size_t j = 0; j < kLanes; ++j) {
            total += lanes[j];
        }
    });
    return total;
}

// ----------------------------------------------------------------- refill

// What every chunk of a sweep's refill shares.
struct RefillSweep {
    double lim;
    int64_t budget;  // rep + 1
    bool cycles;
    size_t chunk;
    bool countsInLoop;  // see CountsInLoop
    int32_t* out;
};

// Once nothing is left to start: packs the `live` lanes of s into as few
// groups as they need, so that a long-lived pixel does not drag empty
// vectors along.
void Pack(Slots& s, size_t& groups, size_t live) {
    size_t to = 0;
    for (size_t i = 0; i < groups * kLanes; ++i) {
        if (s.at[i] >= 0) {
            if (i != to) {
                CopyPixel(s, to, s, i);
                SetIdle(s, i);
            }
            ++to;
        }
    }
    groups = (live + kLanes - 1) / kLanes;
}

// Runs the pixels the feed hands out in `inFlight` groups of lanes, each
// lane taking the next pixel when its own is done, and writes their counts.
// Returns the sweep position of the first counter fault (rep 2^31 - 1), or
// -1.
int64_t Refill(const RefillSweep& w, size_t inFlight, Feed& feed) {
    const int64_t rep = w.budget - 1;
    const bool counterCanOverflow = rep == std::numeric_limits<int32_t>::max();
    int64_t counterFault = -1;
    Slots s;
    size_t live = 0;
    for (size_t i = 0; i < kSlots; ++i) {
        if (i < inFlight * kLanes && feed.take(s, i)) {
            ++live;
        } else {
            SetIdle(s, i);
        }
    }
    size_t groups = inFlight;
    uint64_t chunks = 0;
    uint64_t laneSteps = 0;
    // Whether a lane escaped in the last chunk. Where chunks may count in
    // their loop (CountsInLoop), one after a chunk without escapes stores
    // rows instead: most likely no lane escapes again (pixels that run their
    // whole budget, or until they repeat), and rows that prove it need no
    // counting, which makes that loop the faster one.
    bool escapes = true;
    while (live > 0) {
        if (feed.exhausted() && live <= (groups - 1) * kLanes) {
            Pack(s, groups, live);
        }
        // The cycle check at every other chunk end.
        const bool check = w.cycles && (chunks++ & 1) == 0;
        const uint64_t finished = RunGroups(groups, w.chunk, w.countsInLoop && escapes, s, w.lim,
                                            w.budget, feed.opening(), check);
        laneSteps += groups * kLanes * w.chunk;
        escapes = false;
        for (uint64_t done = finished; done != 0; done &= done - 1) {
            const size_t i = static_cast<size_t>(hwy::Num0BitsBelowLS1Bit_Nonzero64(done));
            const int64_t at = s.at[i];
            if (at < 0) {
                continue;  // idle
            }
            if (counterCanOverflow && s.cnt[i] == w.budget) {
                // The step counter would pass 2^31 - 1, after all its steps
                // or, for a cycle found early, some day: a fault, and the end
                // of the sweep there. Pixels after it are dropped, so a later
                // counter fault can only be at an earlier pixel.
                w.out[at] = static_cast<int32_t>(rep);
                const int64_t q = OutIndex(at);
                counterFault = q;
                feed.cut(q);
                for (size_t j = 0; j < kSlots; ++j) {
                    if (s.at[j] >= 0 && OutIndex(s.at[j]) > q) {
                        SetIdle(s, j);
                        --live;
                    }
                }
            } else {
                w.out[at] = static_cast<int32_t>(s.cnt[i]);
                escapes = escapes || s.cnt[i] < w.budget;
            }
            if (!feed.take(s, i)) {
                SetIdle(s, i);
                --live;
            }
        }
    }
    kernel_detail::refillLaneSteps += laneSteps;
    return counterFault;
}

}  // namespace

// Vectors in flight on this target and CPU (see groupsInFlightFor).
size_t GroupsInFlight() {
    static const size_t groups = static_cast<size_t>(
        groupsInFlightFor(HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3, kernel_detail::thisCpu()));
    return groups;
}

// groups: vectors in flight, 1 to kMaxGroups; 0 for GroupsInFlight().
SweepFault ComputeColumnsImpl(const View& view, double lim, int32_t rep, int col0, int ncols,
                              int32_t* out, bool cycles, int groupsWanted) {
    if (ncols <= 0) {
        return {};
    }
    if (rep < 0) {
        std::fill(out, out + static_cast<size_t>(ncols) * kPicSide, 0);
        return {};
    }
    if (!(lim <= kernel_detail::kLimFast)) {
        // Later steps could overflow too; the program always uses 4, so
        // the slow path is good enough here.
        return referenceColumns(view, lim, rep, col0, ncols, out);
    }
    const double* ys = RowsOf(view);
    const int64_t budget = int64_t{rep} + 1;
    const size_t inFlight = groupsWanted <= 0
                                ? GroupsInFlight()
                                : std::min(static_cast<size_t>(groupsWanted), kMaxGroups);
    // A batch of the opening keeps to at most 32 rows of a column: wider,
    // fewer batches run in every lane long enough to go on in stretches.
    const bool pairs = inFlight % 2 == 0 && inFlight * kLanes > 32;
    const size_t chunk = ChunkFor(inFlight);
    Feed feed(view, lim, budget, cycles, inFlight, pairs, chunk, col0, ncols, ys,
              !kernel_detail::step0FiniteEverywhere(view, col0, ncols, ys), out);

    const int64_t counterFault = Refill({lim, budget, cycles, chunk, CountsInLoop(inFlight), out},
                                        RefillGroups(inFlight), feed);

    // A counter fault comes first when there is one: no pixel at or past a
    // step-0 fault is ever started.
    int64_t first = counterFault;
    if (first < 0) {
        first = feed.step0Fault();
        if (first < 0) {
            return {};
        }
        out[OutIndex(first)] = 0;  // the reference's count at a step-0 fault
    }
    const int64_t c = first / kPicSide;
    return {col0 + static_cast<int>(c), kPicSide - 1 - static_cast<int>(first - c * kPicSide)};
}

const char* KernelTargetNameImpl() {
    return hwy::TargetName(HWY_TARGET);
}

size_t KernelLanesImpl() {
    return kLanes;
}

int KernelGroupsImpl() {
    return static_cast<int>(GroupsInFlight());
}

template <bool kMask>
int64_t CeilingOf(int chains, int64_t steps) {
    switch (std::clamp(chains, 4, 8)) {
        case 4:
            return Ceiling<4, kMask>(steps);
        case 5:
            return Ceiling<5, kMask>(steps);
        case 6:
            return Ceiling<6, kMask>(steps);
        case 7:
            return Ceiling<7, kMask>(steps);
        default:
            return Ceiling<8, kMask>(steps);
    }
}

int64_t StepCeilingImpl(int chains, int64_t steps, bool runningMask) {
    return runningMask ? CeilingOf<true>(chains, steps) : CeilingOf<false>(chains, steps);
}

}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace core {

HWY_EXPORT(ComputeColumnsImpl);
HWY_EXPORT(KernelTargetNameImpl);
HWY_EXPORT(KernelLanesImpl);
HWY_EXPORT(KernelGroupsImpl);
HWY_EXPORT(StepCeilingImpl);

SweepFault computeColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                          int32_t* out) {
    return HWY_DYNAMIC_DISPATCH(ComputeColumnsImpl)(view, lim, rep, col0, ncols, out, true, 0);
}

SweepFault computeColumnsWithoutCycleCheck(const View& view, double lim, int32_t rep, int col0,
                                           int ncols, int32_t* out) {
    return HWY_DYNAMIC_DISPATCH(ComputeColumnsImpl)(view, lim, rep, col0, ncols, out, false, 0);
}

SweepFault computeColumnsWithGroups(int groups, bool cycleCheck, const View& view, double lim,
                                    int32_t rep, int col0, int ncols, int32_t* out) {
    return HWY_DYNAMIC_DISPATCH(ComputeColumnsImpl)(view, lim, rep, col0, ncols, out, cycleCheck,
                                                    groups);
}

int kernelGroups() {
    return HWY_DYNAMIC_DISPATCH(KernelGroupsImpl)();
}

std::vector<int> kernelGroupChoices() {
    const bool avx512 = std::strncmp(kernelTargetName(), "AVX3", 4) == 0;
    const int other = groupsInFlightFor(avx512, Cpu{});
    const int zen = groupsInFlightFor(avx512, Cpu{true, 0x1A});
    return other == zen ? std::vector<int>{other} : std::vector<int>{other, zen};
}

int groupsInFlightFor(bool avx512, const Cpu& cpu) {
    // AMD's cores since Zen run more vector operations at once than the
    // Intel cores the kernel was first tuned on: with AVX-512 they need
    // more independent chains to hide each step's latency.
    return avx512 && cpu.amd && cpu.family >= 0x17 ? 8 : 4;
}

const char* kernelTargetName() {
    return HWY_DYNAMIC_DISPATCH(KernelTargetNameImpl)();
}

uint64_t refillLaneSteps() {
    return kernel_detail::refillLaneSteps;
}

size_t kernelLanes() {
    return HWY_DYNAMIC_DISPATCH(KernelLanesImpl)();
}

int64_t stepCeiling(int chains, int64_t steps, bool runningMask) {
    return HWY_DYNAMIC_DISPATCH(StepCeilingImpl)(chains, steps, runningMask);
}

}  // namespace core
#endif  // HWY_ONCE
