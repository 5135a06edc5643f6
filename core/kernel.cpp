// The vector escape-count kernel. Highway compiles the code between
// HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE once per instruction set
// (foreach_target.h re-includes this file) and picks the best one the CPU
// has at run time.
//
// Each column goes through two phases.
//  1. Opening: the column's rows, one vector of consecutive rows per lane
//     set, run the first kOpening (to kOpening + kMaxChunk - 1) steps side by
//     side. Neighbouring pixels escape at similar steps, so most vectors
//     finish together and early; their counts are final.
//  2. Refill: the pixels still running continue in vector lanes that carry
//     their own c, z and step count. Lanes run in chunks of kMaxChunk steps;
//     a lane whose pixel escaped or ran out of steps idles until the chunk
//     ends, then writes its count and takes the next pixel, which may come
//     from the next column. At each chunk end a running lane's z is compared
//     with a z it saved earlier (see "Exact cycles" below): an exact repeat
//     means that the orbit cycles and never escapes, and the pixel is done.
// kGroups independent vectors are in flight in both phases so that the
// multiply and add latencies overlap; each step is a long dependent chain.
//
// Measured on AVX-512 (bench/kernel_bench.cpp): vectors of consecutive rows
// that run until their last lane is done, with no refill, reach only half
// the speed on deep boundary views; refill alone, without the opening,
// loses a third on the start view.
//
// Against the step ceiling (stepCeiling: the bare step with nothing else in
// the loop) on a Xeon with AVX-512, one column per call as the program asks:
// about 70 % on the start and boundary views without the cycle check, 76 to
// 79 % when one call sweeps the whole picture; with AVX2 on the same machine
// 65 to 70 %. The inner loops themselves run at 94 to 97 % of it. The rest:
// lanes idle from their pixel's escape to the end of its last chunk (a tenth
// of the steps on the boundary view), handing pixels to lanes (another
// tenth), and on the start view the last inside pixels of a column running
// in half-empty vectors. Measured and no faster: 16-step chunks; three groups
// where there are 16 vector registers; a pool of 6 to 12 groups taking turns;
// refilling lanes in registers (the chunk ends cost as much as the trip
// through memory) or by vector expansion from a queue of pixels; starting
// first the rows that ran long in a column nearby; checking the opening for
// an end every other step.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "core/kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
// Must come after foreach_target.h.
#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

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

}  // namespace core::kernel_detail

#endif  // QUARLO_KERNEL_SHARED

HWY_BEFORE_NAMESPACE();
namespace core {
namespace HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;
// Step counts live in 64-bit integer lanes: rep + 1 = 2^31 must fit, and
// integer adds keep the floating-point adders free for the iteration.
using DI = hn::RebindToSigned<D>;
using VI = hn::Vec<DI>;

constexpr size_t kLanes = HWY_LANES(double);
// Independent vectors per step: enough to cover the latency of one step's
// dependent chain (multiply, subtract, add) without running out of registers.
// 4 beat 2 and 3 by 5 to 10 % on AVX-512, and also on AVX2 and SSE4, where
// some of the 16 registers spill (the spilled c is only read).
constexpr size_t kGroups = 4;
constexpr size_t kSlots = kLanes * kGroups;
// Fewest steps of the opening phase. Without it (refill from the first step)
// the start view runs at 2/3 of the speed, the many pixels that escape within
// a few steps each holding a lane for a whole chunk; 8 to 16 are equally good,
// 32 starts to lose. The opening runs from kOpening to kOpening + kMaxChunk - 1
// steps, so that the step budget ends exactly at a chunk end (see Feed).
constexpr size_t kOpening = 16;
// Steps of every refill chunk. Lanes that finish early idle until the chunk
// ends, so longer chunks waste more; shorter ones pay the refill more often.
// Measured: 16 is 5 % slower, 64 loses 5 % on deep boundary views and gains
// as much where nearly every pixel is inside; halving the chunk when many
// lanes finish and doubling it when none did was no better. Every chunk is
// this long, so at each chunk end a running lane has run a multiple of
// kMaxChunk steps since the opening, which the cycle check relies on.
// Stretching the opening so that the budget ends at a chunk end beat both
// shortening the chunk for a lane near its budget (as before the cycle
// check) and letting such a lane run past its budget: 4 % on the start view.
constexpr size_t kMaxChunk = 32;
// Rows of a column plus room for the last, partly filled, batch of vectors.
constexpr size_t kRowsPadded = kPicSide + kSlots;

struct Group {
    V x, y, x2, y2, cx, cy;
    VI cnt;  // steps done without escaping
    M act;   // still iterating
};

// cnt + 1 in the lanes of m. AVX-512 adds under the mask register; elsewhere
// a mask lane is all ones, -1 as an integer, so subtracting the mask counts
// with one instruction instead of an add and a blend.
HWY_INLINE VI CountIf(VI cnt, M m, VI one) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return hn::IfThenElse(hn::RebindMask(DI(), m), hn::Add(cnt, one), cnt);
#else
    (void)one;
    return hn::Sub(cnt, hn::BitCast(DI(), hn::VecFromMask(D(), m)));
#endif
}

// act & !(r > lim). A NaN r keeps act, but r only turns NaN after an r of
// inf, which already cleared it. AVX-512 folds the AND into the compare's
// write mask: one instruction.
HWY_INLINE M StillIn(M act, V r, V lim) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return M{_mm512_mask_cmp_pd_mask(act.raw, r.raw, lim.raw, _CMP_NGT_UQ)};
#else
    return hn::AndNot(hn::Gt(r, lim), act);
#endif
}

// The iteration proper, in the reference's order of operations: x + x is
// exactly 2x (subnormals included), while 2 * (x * y) would round
// differently. The squares of the new z serve both the escape test and the
// next step: the same products of the same values. Returns r = |z|^2.
HWY_INLINE V Advance(V& x, V& y, V& x2, V& y2, V cx, V cy) {
    // x + x first: the compiler then need not copy x before xn replaces it.
    const V twoX = hn::Add(x, x);
    const V xn = hn::Add(hn::Sub(x2, y2), cx);
    const V yn = hn::Add(hn::Mul(twoX, y), cy);
    x = xn;
    y = yn;
    x2 = hn::Mul(xn, xn);
    y2 = hn::Mul(yn, yn);
    return hn::Add(x2, y2);
}

// One step. An escaped lane keeps computing (towards inf and NaN) but its
// count is frozen: act only ever goes from true to false.
HWY_INLINE void Step(Group& v, V lim, VI one) {
    v.act = StillIn(v.act, Advance(v.x, v.y, v.x2, v.y2, v.cx, v.cy), lim);
    v.cnt = CountIf(v.cnt, v.act, one);
}

// Lane bits of a mask, shifted to the lanes of group g.
HWY_INLINE uint64_t MaskBits(M m, size_t g) {
    const D d;
    uint8_t bits[8] = {};
    hn::StoreMaskBits(d, m, bits);
    uint64_t b = 0;
    for (size_t i = 0; i < (kLanes + 7) / 8; ++i) {
        b |= static_cast<uint64_t>(bits[i]) << (8 * i);
    }
    return b << (g * kLanes);
}

// ---------------------------------------------------------------- opening

// State of a column after the opening, indexed by row.
struct Column {
    alignas(64) double x[kRowsPadded];
    alignas(64) double y[kRowsPadded];
    alignas(64) double x2[kRowsPadded];
    alignas(64) double y2[kRowsPadded];
};

// Runs rows r0 .. r0 + G * kLanes - 1 (ys is padded past row 800) for up to
// `steps` steps, stopping once every lane has escaped. Writes the counts of
// rows below 801 to outCol and the state to col; returns the bits of the
// lanes still running, row r0 + i at bit i.
template <size_t G>
HWY_NOINLINE uint64_t OpenBatch(double cxS, const double* ys, size_t r0, size_t steps, double limS,
                                Column& col, int32_t* outCol) {
    static_assert(G >= 1 && G <= 4 && G <= kGroups);
    const D d;
    const DI di;
    const V lim = hn::Set(d, limS);
    const VI one = hn::Set(di, 1);
    const V zero = hn::Zero(d);
    const V cx = hn::Set(d, cxS);
    const M all = hn::Eq(zero, zero);
    auto start = [&](size_t g) {
        return Group{zero,         zero, zero, zero, cx, hn::LoadU(d, ys + r0 + g * kLanes),
                     hn::Zero(di), all};
    };
    Group g0 = start(0);
    Group g1 = G > 1 ? start(1) : g0;
    Group g2 = G > 2 ? start(2) : g0;
    Group g3 = G > 3 ? start(3) : g0;
    for (size_t i = 0; i < steps; ++i) {
        Step(g0, lim, one);
        if constexpr (G > 1)
            Step(g1, lim, one);
        if constexpr (G > 2)
            Step(g2, lim, one);
        if constexpr (G > 3)
            Step(g3, lim, one);
        M any = g0.act;
        if constexpr (G > 1)
            any = hn::Or(any, g1.act);
        if constexpr (G > 2)
            any = hn::Or(any, g2.act);
        if constexpr (G > 3)
            any = hn::Or(any, g3.act);
        if (hn::AllFalse(d, any)) {
            break;
        }
    }
    const hn::RebindToUnsigned<D> du;
    const hn::Rebind<uint32_t, D> du32;
    const hn::Rebind<int32_t, D> di32;
    uint64_t running = 0;
    auto finish = [&](const Group& v, size_t g) {
        const size_t r = r0 + g * kLanes;
        hn::StoreU(v.x, d, col.x + r);
        hn::StoreU(v.y, d, col.y + r);
        hn::StoreU(v.x2, d, col.x2 + r);
        hn::StoreU(v.y2, d, col.y2 + r);
        // Counts here are below kOpening + kMaxChunk: the low half of each lane.
        const auto counts = hn::BitCast(di32, hn::TruncateTo(du32, hn::BitCast(du, v.cnt)));
        if (r + kLanes <= kPicSide) {
            hn::StoreU(counts, di32, outCol + r);
        } else {
            int32_t tmp[kLanes];
            hn::StoreU(counts, di32, tmp);
            std::copy(tmp, tmp + (r < kPicSide ? kPicSide - r : 0), outCol + r);
        }
        running |= MaskBits(v.act, g);
    };
    finish(g0, 0);
    if constexpr (G > 1)
        finish(g1, 1);
    if constexpr (G > 2)
        finish(g2, 2);
    if constexpr (G > 3)
        finish(g3, 3);
    const size_t valid = kPicSide - r0;  // rows of the batch inside the column
    return valid >= 64 ? running : running & ((uint64_t{1} << valid) - 1);
}

HWY_INLINE uint64_t OpenRows(size_t rows, double cx, const double* ys, size_t r0, size_t steps,
                             double lim, Column& col, int32_t* outCol) {
    switch ((rows + kLanes - 1) / kLanes) {
        case 1:
            return OpenBatch<1>(cx, ys, r0, steps, lim, col, outCol);
        case 2:
            return OpenBatch<2>(cx, ys, r0, steps, lim, col, outCol);
        case 3:
            return OpenBatch<3>(cx, ys, r0, steps, lim, col, outCol);
        default:
            return OpenBatch<kGroups>(cx, ys, r0, steps, lim, col, outCol);
    }
}

// ----------------------------------------------------------------- refill

// Lane state between chunks, one entry per slot.
struct Slots {
    alignas(64) double x[kSlots];
    alignas(64) double y[kSlots];
    alignas(64) double x2[kSlots];
    alignas(64) double y2[kSlots];
    alignas(64) double cx[kSlots];
    alignas(64) double cy[kSlots];
    alignas(64) int64_t cnt[kSlots];
    alignas(64) double act[kSlots];  // 1: iterating, 0: escaped or idle
    // The z the cycle check compares with; NaN (equal to nothing) until the
    // lane's pixel has saved one.
    alignas(64) double sx[kSlots];
    alignas(64) double sy[kSlots];
    int64_t pix[kSlots];  // sweep position, -1: idle
};

HWY_INLINE Group LoadGroup(const Slots& s, size_t g) {
    const D d;
    const size_t o = g * kLanes;
    return Group{hn::Load(d, s.x + o),      hn::Load(d, s.y + o),
                 hn::Load(d, s.x2 + o),     hn::Load(d, s.y2 + o),
                 hn::Load(d, s.cx + o),     hn::Load(d, s.cy + o),
                 hn::Load(DI(), s.cnt + o), hn::Eq(hn::Load(d, s.act + o), hn::Set(d, 1.0))};
}

HWY_INLINE void StoreGroup(const Group& v, Slots& s, size_t g) {
    const D d;
    const size_t o = g * kLanes;
    hn::Store(v.x, d, s.x + o);
    hn::Store(v.y, d, s.y + o);
    hn::Store(v.x2, d, s.x2 + o);
    hn::Store(v.y2, d, s.y2 + o);
    hn::Store(v.cnt, DI(), s.cnt + o);
    hn::Store(hn::IfThenElseZero(v.act, hn::Set(d, 1.0)), d, s.act + o);
}

// Exact cycles. Call two finite states (x, y) alike when they are equal
// under ==: the same bits, except that a coordinate may be -0 on one side
// and +0 on the other. Alike states step to alike states with the same
// escape test: x*x and y*y do not see the sign of a zero, so
// x' = (x*x - y*y) + cx has the same bits on both sides; (x + x) * y has the
// same bits, or is a zero on both sides (when x or y is a zero), so
// y' = (x + x) * y + cy has the same bits, or is a zero on both sides (when
// cy is a zero too); and r = x'*x' + y'*y' has the same bits. A running lane
// is finite: its last r was at most lim <= kLimFast. So if a lane's z after
// step b is alike to its z after an earlier step a, and it has not escaped
// through step b, every later step has the same r as the step b - a before
// it: the lane never escapes, and its count is rep + 1 (the counter fault
// when rep is 2147483647) however many steps are left. No tolerance: only
// == on both coordinates.
//
// Comparing only at chunk ends costs nothing per step. The saved z is
// replaced, after the comparison, when the steps run since the opening (o,
// so cnt - o, a multiple of kMaxChunk) are a power of two, as in Brent's
// cycle finding: the z after step o + 32 * 2^j is compared at the next 2^j
// chunk ends, which covers every multiple of lcm(p, 32) steps up to 32 * 2^j.
// An orbit that enters a cycle of period p at step m is thus caught by about
// step o + 4 * max(m, lcm(p, 32)). Comparing at every step instead finds
// cycles up to 8 % sooner in steps on the benchmark views and on minibrots
// of periods in the thousands, but each step costs 25 to 35 % more: it lost
// on every view measured.

// Runs kMaxChunk steps on the first G groups; returns the slots whose pixel
// is finished (idle slots included), their counts final in s.cnt. openingS is
// the steps of the opening; cycles: whether to run the cycle check. Explicit
// variables rather than an array so that the compiler keeps every group in
// registers.
template <size_t G>
HWY_NOINLINE uint64_t RunChunk(Slots& s, double limS, int64_t budgetS, int64_t openingS,
                               bool cycles) {
    static_assert(G >= 1 && G <= 4 && G <= kGroups);
    const D d;
    const DI di;
    const V lim = hn::Set(d, limS);
    const VI one = hn::Set(di, 1);
    Group g0 = LoadGroup(s, 0);
    Group g1 = G > 1 ? LoadGroup(s, 1) : g0;
    Group g2 = G > 2 ? LoadGroup(s, 2) : g0;
    Group g3 = G > 3 ? LoadGroup(s, 3) : g0;
    for (size_t i = 0; i < kMaxChunk; ++i) {
        Step(g0, lim, one);
        if constexpr (G > 1)
            Step(g1, lim, one);
        if constexpr (G > 2)
            Step(g2, lim, one);
        if constexpr (G > 3)
            Step(g3, lim, one);
    }
    const VI budget = hn::Set(di, budgetS);
    const VI opening = hn::Set(di, openingS);
    const VI chunk = hn::Set(di, static_cast<int64_t>(kMaxChunk));
    uint64_t done = 0;
    auto finish = [&](Group& v, size_t g) {
        // Every lane that iterates starts the chunk active (a lane that
        // escaped was retired at the end of the last one), so the lanes
        // still active are those that counted every step. Deriving it here
        // rather than keeping act after the loop spares a mask copy per step.
        v.act = hn::RebindMask(d, hn::Eq(v.cnt, hn::Add(hn::Load(di, s.cnt + g * kLanes), chunk)));
        // Lanes whose count is rep + 1: those that ran their whole budget,
        // which ends exactly at a chunk end (the opening's length sees to it;
        // >= only makes sure), and those found cycling.
        M full = hn::RebindMask(d, hn::Not(hn::Lt(v.cnt, budget)));
        if (cycles) {
            const size_t o = g * kLanes;
            const V sx = hn::Load(d, s.sx + o);
            const V sy = hn::Load(d, s.sy + o);
            // Compared before the save below, or z would meet itself. Only a
            // lane that has not escaped through this step can cycle.
            full = hn::Or(full, hn::And(v.act, hn::And(hn::Eq(v.x, sx), hn::Eq(v.y, sy))));
            const VI run = hn::Sub(v.cnt, opening);
            const M save = hn::RebindMask(d, hn::Eq(hn::And(run, hn::Sub(run, one)), hn::Zero(di)));
            hn::Store(hn::IfThenElse(save, v.x, sx), d, s.sx + o);
            hn::Store(hn::IfThenElse(save, v.y, sy), d, s.sy + o);
        }
        v.cnt = hn::IfThenElse(hn::RebindMask(di, full), budget, v.cnt);
        StoreGroup(v, s, g);
        done |= MaskBits(hn::Or(full, hn::Not(v.act)), g);
    };
    finish(g0, 0);
    if constexpr (G > 1)
        finish(g1, 1);
    if constexpr (G > 2)
        finish(g2, 2);
    if constexpr (G > 3)
        finish(g3, 3);
    return done;
}

HWY_INLINE uint64_t RunGroups(size_t groups, Slots& s, double lim, int64_t budget, int64_t opening,
                              bool cycles) {
    switch (groups) {
        case 1:
            return RunChunk<1>(s, lim, budget, opening, cycles);
        case 2:
            return RunChunk<2>(s, lim, budget, opening, cycles);
        case 3:
            return RunChunk<3>(s, lim, budget, opening, cycles);
        default:
            return RunChunk<kGroups>(s, lim, budget, opening, cycles);
    }
}

void SetIdle(Slots& s, size_t i) {
    s.x[i] = s.y[i] = s.x2[i] = s.y2[i] = s.cx[i] = s.cy[i] = s.act[i] = 0.0;
    s.sx[i] = s.sy[i] = std::numeric_limits<double>::quiet_NaN();
    s.cnt[i] = 0;
    s.pix[i] = -1;
}

// ------------------------------------------------------------------- feed

// Hands out the pixels that outlast the opening, in sweep order: columns left
// to right, rows 800 down to 0, up to end(), which moves back to the first
// fault once one is known. Columns are opened as they are reached. When some
// mapped c might make step 0 non-finite, each column is scanned first, and the
// sweep ends at its first such pixel, which is never iterated.
class Feed {
public:
    Feed(const View& view, double lim, int64_t budget, int col0, int ncols, const double* ys,
         bool scan, int32_t* out)
        : view_(view),
          lim_(lim),
          opening_(static_cast<size_t>(openingFor(budget))),
          finalAfterOpening_(static_cast<int64_t>(opening_) == budget),
          col0_(col0),
          ncols_(ncols),
          ys_(ys),
          scan_(scan),
          out_(out),
          end_(static_cast<int64_t>(ncols) * kPicSide) {}

    // Steps of the opening for a budget of `budget` steps: all of them when
    // they are few, otherwise kOpening or more, such that the refill's
    // chunks end exactly on the budget.
    static int64_t openingFor(int64_t budget) {
        const auto lo = static_cast<int64_t>(kOpening);
        return budget <= lo ? budget : lo + (budget - lo) % static_cast<int64_t>(kMaxChunk);
    }

    bool exhausted() const { return exhausted_; }
    int64_t opening() const { return static_cast<int64_t>(opening_); }
    int64_t step0Fault() const { return step0Fault_; }

    // Ends the sweep before position q.
    void cut(int64_t q) { end_ = std::min(end_, q); }

    // Starts the next pixel in slot i, or returns false when there is none.
    bool take(Slots& s, size_t i) {
        for (;;) {
            if (npend_ > 0) {
                const int row = pend_[--npend_];
                const int64_t q = colStart_ + (kPicSide - 1 - row);
                if (q >= end_) {
                    npend_ = 0;
                    exhausted_ = true;
                    return false;
                }
                s.x[i] = col_.x[row];
                s.y[i] = col_.y[row];
                s.x2[i] = col_.x2[row];
                s.y2[i] = col_.y2[row];
                s.cx[i] = cx_;
                s.cy[i] = ys_[row];
                s.cnt[i] = static_cast<int64_t>(opening_);
                s.act[i] = 1.0;
                // A z saved by the slot's previous pixel belongs to another c.
                s.sx[i] = s.sy[i] = std::numeric_limits<double>::quiet_NaN();
                s.pix[i] = q;
                return true;
            }
            const int64_t nextStart = static_cast<int64_t>(nextCol_) * kPicSide;
            if (nextCol_ >= ncols_ || nextStart >= end_) {
                exhausted_ = true;
                return false;
            }
            open(nextCol_++);
        }
    }

private:
    void open(int c) {
        colStart_ = static_cast<int64_t>(c) * kPicSide;
        cx_ = pixelX(col0_ + c, view_);
        int32_t* outCol = out_ + colStart_;
        size_t lo = 0;
        if (scan_) {
            const int row = kernel_detail::firstStep0Fault(cx_, ys_, lim_);
            if (row >= 0) {
                const int64_t q = colStart_ + (kPicSide - 1 - row);
                step0Fault_ = q;
                cut(q);
                lo = static_cast<size_t>(row) + 1;
            }
        }
        for (size_t r0 = lo; r0 < kPicSide; r0 += kSlots) {
            uint64_t running = OpenRows(kPicSide - r0, cx_, ys_, r0, opening_, lim_, col_, outCol);
            if (finalAfterOpening_) {
                continue;  // the count written, rep + 1, is final
            }
            for (; running != 0; running &= running - 1) {
                pend_[npend_++] =
                    static_cast<int16_t>(r0 + hwy::Num0BitsBelowLS1Bit_Nonzero64(running));
            }
        }
    }

    const View& view_;
    double lim_;
    size_t opening_;          // steps of the opening: openingFor(rep + 1)
    bool finalAfterOpening_;  // the opening reaches rep + 1 steps
    int col0_;
    int ncols_;
    const double* ys_;
    bool scan_;
    int32_t* out_;
    int64_t end_;
    int nextCol_ = 0;
    int64_t colStart_ = 0;  // sweep position of row 800 of the open column
    double cx_ = 0.0;
    Column col_;
    int16_t pend_[kPicSide];  // rows still running, ascending; taken from the back
    size_t npend_ = 0;
    bool exhausted_ = false;
    int64_t step0Fault_ = -1;
};

// The cy of every row of the view. The program asks for one column at a
// time, and 801 divisions by 400 (which no multiplication may replace) cost
// as much as a tenth of a column of the start view; so each thread keeps the
// rows of the view it last computed, recomputed when the view's yc or s
// differ in any bit. Rows past 800 only fill the last vectors of the
// opening: a cy that escapes at step 0 (|c|^2 > 1e200 > kLimFast) lets them
// finish at once.
const double* RowsOf(const View& view) {
    struct Rows {
        uint64_t yc = 0, s = 0;  // bits of the view's yc and s
        bool valid = false;
        alignas(64) double ys[kRowsPadded];
    };
    thread_local Rows rows;
    const uint64_t yc = std::bit_cast<uint64_t>(view.yc);
    const uint64_t sz = std::bit_cast<uint64_t>(view.s);
    if (!rows.valid || rows.yc != yc || rows.s != sz) {
        for (int row = 0; row < kPicSide; ++row) {
            rows.ys[row] = pixelY(row, view);
        }
        std::fill(rows.ys + kPicSide, rows.ys + kRowsPadded, 1e100);
        rows.yc = yc;
        rows.s = sz;
        rows.valid = true;
    }
    return rows.ys;
}

// Output index of sweep position q.
int64_t OutIndex(int64_t q) {
    const int64_t c = q / kPicSide;
    return c * kPicSide + (kPicSide - 1 - (q - c * kPicSide));
}

// ---------------------------------------------------------------- ceiling

// C chains of the step with no exits: see stepCeiling. Each chain's c is a
// different point of the main cardioid, whose orbit settles on an attracting
// fixed point: finite and far from subnormal, so no step is slowed down.
template <size_t C>
HWY_NOINLINE int64_t Ceiling(int64_t steps) {
    const D d;
    const DI di;
    const V lim = hn::Set(d, kEscLim);
    const VI one = hn::Set(di, 1);
    V x[C], y[C], x2[C], y2[C], cx[C], cy[C];
    VI cnt[C];
    for (size_t c = 0; c < C; ++c) {
        x[c] = y[c] = x2[c] = y2[c] = hn::Zero(d);
        const V i = hn::Iota(d, static_cast<double>(c * kLanes));
        cx[c] = hn::Sub(hn::Set(d, -0.1), hn::Mul(i, hn::Set(d, 1e-3)));
        cy[c] = hn::Add(hn::Set(d, 0.1), hn::Mul(i, hn::Set(d, 1e-3)));
        cnt[c] = hn::Zero(di);
    }
    for (int64_t i = 0; i < steps; ++i) {
        for (size_t c = 0; c < C; ++c) {
            const V r = Advance(x[c], y[c], x2[c], y2[c], cx[c], cy[c]);
            cnt[c] = CountIf(cnt[c], hn::Le(r, lim), one);
        }
    }
    alignas(64) int64_t lanes[kLanes];
    int64_t total = 0;
    for (size_t c = 0; c < C; ++c) {
        hn::Store(cnt[c], di, lanes);
        for (size_t j = 0; j < kLanes; ++j) {
            total += lanes[j];
        }
    }
    return total;
}

}  // namespace

SweepFault ComputeColumnsImpl(const View& view, double lim, int32_t rep, int col0, int ncols,
                              int32_t* out, bool cycles) {
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
    const bool counterCanOverflow = rep == std::numeric_limits<int32_t>::max();
    int64_t counterFault = -1;
    Feed feed(view, lim, budget, col0, ncols, ys,
              !kernel_detail::step0FiniteEverywhere(view, col0, ncols, ys), out);

    Slots s;
    size_t live = 0;
    for (size_t i = 0; i < kSlots; ++i) {
        if (feed.take(s, i)) {
            ++live;
        } else {
            SetIdle(s, i);
        }
    }
    size_t groups = kGroups;
    while (live > 0) {
        if (feed.exhausted() && live <= (groups - 1) * kLanes) {
            // Nothing left to start: pack the remaining lanes into as few
            // groups as they need, so a long-lived pixel does not drag
            // empty vectors along.
            size_t to = 0;
            for (size_t i = 0; i < groups * kLanes; ++i) {
                if (s.pix[i] >= 0) {
                    if (i != to) {
                        s.x[to] = s.x[i], s.y[to] = s.y[i], s.x2[to] = s.x2[i];
                        s.y2[to] = s.y2[i], s.cx[to] = s.cx[i], s.cy[to] = s.cy[i];
                        s.cnt[to] = s.cnt[i], s.act[to] = s.act[i], s.pix[to] = s.pix[i];
                        s.sx[to] = s.sx[i], s.sy[to] = s.sy[i];
                        SetIdle(s, i);
                    }
                    ++to;
                }
            }
            groups = (live + kLanes - 1) / kLanes;
        }
        const uint64_t finished = RunGroups(groups, s, lim, budget, feed.opening(), cycles);
        for (uint64_t done = finished; done != 0; done &= done - 1) {
            const size_t i = static_cast<size_t>(hwy::Num0BitsBelowLS1Bit_Nonzero64(done));
            const int64_t q = s.pix[i];
            if (q < 0) {
                continue;  // idle
            }
            if (s.cnt[i] == budget && counterCanOverflow) {
                // The step counter would pass 2^31 - 1, after all its steps
                // or, for a cycle found early, some day: a fault, and the end
                // of the sweep there. Pixels after it are dropped, so a later
                // counter fault can only be at an earlier pixel.
                out[OutIndex(q)] = rep;
                counterFault = q;
                feed.cut(q);
                for (size_t j = 0; j < kSlots; ++j) {
                    if (s.pix[j] > q) {
                        SetIdle(s, j);
                        --live;
                    }
                }
            } else {
                out[OutIndex(q)] = static_cast<int32_t>(s.cnt[i]);
            }
            if (!feed.take(s, i)) {
                SetIdle(s, i);
                --live;
            }
        }
    }

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

int64_t StepCeilingImpl(int chains, int64_t steps) {
    switch (std::clamp(chains, 4, 8)) {
        case 4:
            return Ceiling<4>(steps);
        case 5:
            return Ceiling<5>(steps);
        case 6:
            return Ceiling<6>(steps);
        case 7:
            return Ceiling<7>(steps);
        default:
            return Ceiling<8>(steps);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace core {

HWY_EXPORT(ComputeColumnsImpl);
HWY_EXPORT(KernelTargetNameImpl);
HWY_EXPORT(KernelLanesImpl);
HWY_EXPORT(StepCeilingImpl);

SweepFault computeColumns(const View& view, double lim, int32_t rep, int col0, int ncols,
                          int32_t* out) {
    return HWY_DYNAMIC_DISPATCH(ComputeColumnsImpl)(view, lim, rep, col0, ncols, out, true);
}

SweepFault computeColumnsWithoutCycleCheck(const View& view, double lim, int32_t rep, int col0,
                                           int ncols, int32_t* out) {
    return HWY_DYNAMIC_DISPATCH(ComputeColumnsImpl)(view, lim, rep, col0, ncols, out, false);
}

const char* kernelTargetName() {
    return HWY_DYNAMIC_DISPATCH(KernelTargetNameImpl)();
}

size_t kernelLanes() {
    return HWY_DYNAMIC_DISPATCH(KernelLanesImpl)();
}

int64_t stepCeiling(int chains, int64_t steps) {
    return HWY_DYNAMIC_DISPATCH(StepCeilingImpl)(chains, steps);
}

}  // namespace core
#endif  // HWY_ONCE
