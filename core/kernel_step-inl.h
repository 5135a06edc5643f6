// The kernel's vectors and its step: the types, the sizes of the sweep, one
// iteration in the reference's order of operations, and the helpers that
// apply it to every group in flight. Included once per target by kernel.cpp.
#if defined(QUARLO_CORE_KERNEL_STEP_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QUARLO_CORE_KERNEL_STEP_INL_H_
#undef QUARLO_CORE_KERNEL_STEP_INL_H_
#else
#define QUARLO_CORE_KERNEL_STEP_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "core/view.h"

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
// Most independent vectors in flight per step (see GroupsInFlight in
// kernel.cpp for how many run): they overlap the latencies of each step's
// dependent chain. Past 4, the 16 registers of targets below AVX-512 spill.
constexpr size_t kMaxGroups = HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3 ? 8 : 4;
constexpr size_t kSlots = kLanes * kMaxGroups;
// Fewest steps of the opening phase: without it, the many pixels that escape
// within a few steps would each hold a refill lane for a whole chunk. The
// opening runs from kOpening to kOpening + C - 1 steps (C the chunk's
// steps), so that the step budget ends exactly at a chunk end (see Feed).
constexpr size_t kOpening = 16;
// Steps of the opening after each of which a batch is tested for having
// escaped in every lane. A batch after one whose lanes all ran the whole
// opening skips them: it most likely runs long too.
constexpr size_t kOpeningTested = 8;
// Steps of every refill chunk, and of every stretch of a batch that goes on
// in the opening: kChunk, or kLongChunk with more than 4 groups in flight
// (ChunkFor). Lanes that finish early idle until the chunk ends, so longer
// chunks waste more; shorter ones pay the refill more often. Every chunk of
// a sweep is as long, so at each chunk end a running lane has run a
// multiple of the chunk's steps since the opening, which the cycle check
// relies on; the opening is stretched so that the budget ends at a chunk end.
constexpr size_t kChunk = 16;
constexpr size_t kLongChunk = 32;
constexpr size_t kMaxChunk = kMaxGroups > 4 ? kLongChunk : kChunk;
HWY_INLINE size_t ChunkFor(size_t groups) {
    return groups > 4 ? kMaxChunk : kChunk;
}
// f(std::integral_constant<size_t, C>) for the chunk length C that is `chunk`.
template <typename F>
HWY_INLINE auto WithChunk(size_t chunk, const F& f) {
    if constexpr (kMaxChunk != kChunk) {
        if (chunk == kMaxChunk) {
            return f(std::integral_constant<size_t, kMaxChunk>());
        }
    }
    return f(std::integral_constant<size_t, kChunk>());
}
// Rows of a column plus room for the last, partly filled, batch of vectors.
constexpr size_t kRowsPadded = kPicSide + kSlots;

struct Group {
    V x, y;
    V diff;  // x*x - y*y of z, the first operation of the next step
    V cx, cy;
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

// x + x, bit for bit: x + x and x * 2 are both the correctly rounded 2x
// (exact, or inf where it overflows). With AVX-512 it is taken as a
// multiplication. Of the step's eight operations five would otherwise be
// adds, and on cores with two adders and two multipliers (AMD's) the eight
// groups in flight wait on the adders alone. The compiler turns a plain
// x * 2 back into x + x, but not a multiplication with a rounding operand
// (the current mode: an ordinary vmulpd). Below AVX-512, with four groups
// in flight, the multiplication gained nothing.
HWY_INLINE V Twice(V x) {
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    return V{_mm512_mul_round_pd(x.raw, _mm512_set1_pd(2.0), _MM_FROUND_CUR_DIRECTION)};
#else
    return hn::Add(x, x);
#endif
}

// The iteration proper, in the reference's order of operations: x + x is
// exactly 2x (subnormals included), while 2 * (x * y) would round
// differently. The squares of the new z serve both the escape test and the
// next step: the same products of the same values. Their difference, the
// next step's first operation, is taken here already, so that only it and
// not both squares stay live from one step to the next (fewer registers
// spill where there are 16). Returns r = |z|^2.
HWY_INLINE V Advance(V& x, V& y, V& diff, V cx, V cy) {
    // x + x first: the compiler then need not copy x before xn replaces it.
    const V twoX = Twice(x);
    const V xn = hn::Add(diff, cx);
    const V yn = hn::Add(hn::Mul(twoX, y), cy);
    x = xn;
    y = yn;
    const V x2 = hn::Mul(xn, xn);
    const V y2 = hn::Mul(yn, yn);
    diff = hn::Sub(x2, y2);
    return hn::Add(x2, y2);
}

// One step. An escaped lane keeps computing (towards inf and NaN) but its
// count is frozen: act only ever goes from true to false.
HWY_INLINE void Step(Group& v, V lim, VI one) {
    v.act = StillIn(v.act, Advance(v.x, v.y, v.diff, v.cx, v.cy), lim);
    v.cnt = CountIf(v.cnt, v.act, one);
}

// ------------------------------------------------------------ rows of r
//
// The opening's stretches and the refill's chunks run blocks of steps with
// no escape test: a step only stores its r to a row of memory (the store
// port is otherwise idle), eight operations on the vector ports where Step,
// with its test and count, takes ten. Row k + 1 holds r after the block's
// step k. Such a loop can run faster than the ceiling, whose step tests
// and counts.
//
// Which lanes escaped follows from a few rows. Take lim >= 4, s = sqrt(lim),
// and a lane that runs at the block's start: z finite and every r so far at
// most lim, so |c| <= s up to rounding (step 0's r is |c|^2); or the block
// starts at step 0 and |c| > s, where what follows holds with |c| for s.
// Once an r exceeds lim, |z| > s >= 2, and in exact arithmetic
// |z^2 + c| >= |z|^2 - |c| > |z|: |z| stays above s. With the roundings, and
// |z| = s (1 - e), the next step's e is at most 4 e + 10 u (u = 2^-53; the
// bound is tightest at lim = 4), from e <= 2u at the escape. 15 steps later
// e is below 2^-20, so r there is above sure = lim (1 - 2^-14), or is inf or
// NaN (r overflowed). Hence a lane whose r is at most sure at the last row
// and at every 16th row before it did not escape in the block (SurelyRan):
// no step lies more than 15 before a checked row. Any other lane, escaped
// or only close to lim, is counted exactly from all its rows (CountRows): r
// is at most lim at every step up to the escape. Below lim = 4 nothing is
// taken as sure, and every lane is counted from its rows.

// One step that stores r to `row` instead of testing it.
HWY_INLINE void StepRow(Group& v, double* row) {
    hn::Store(Advance(v.x, v.y, v.diff, v.cx, v.cy), D(), row);
}

// lim (1 - 2^-14) for lim >= 4, below which an r at the rows SurelyRan
// checks proves that the lane did not escape; -inf (nothing is sure) below.
HWY_INLINE double SureBound(double lim) {
    return lim >= 4.0 ? lim - lim * 0x1p-14 : -std::numeric_limits<double>::infinity();
}

// Whether every lane of the `lanes` columns at `col` of rows 1 .. len
// (vectors of G * kLanes doubles) surely ran all len steps: whether every r
// at the rows checked is at most sure (SureBound).
template <size_t W>
HWY_INLINE bool SurelyRan(const double (*rows)[W], size_t col, size_t lanes, size_t len,
                          double sure) {
    const D d;
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    // As unsigned integers, the bits of an r >= +0 order as r does, and those
    // of a NaN of either sign lie above +inf's: the largest bits of all the
    // rows decide at once. Maxima spread over all the vector ports, where a
    // chain of compares and ANDs would wait on the few that handle masks.
    if (!(sure >= 0.0)) {
        return false;
    }
    const hn::RebindToUnsigned<D> du;
    auto bits = [&](size_t k, size_t o) { return hn::BitCast(du, hn::Load(d, rows[k] + o)); };
    // Two chains of maxima, half as long.
    auto most = hn::Zero(du);
    auto most2 = hn::Zero(du);
    for (size_t k = len; k > 0; k = k > 16 ? k - 16 : 0) {
        size_t o = col;
        for (; o + kLanes < col + lanes; o += 2 * kLanes) {
            most = hn::Max(most, bits(k, o));
            most2 = hn::Max(most2, bits(k, o + kLanes));
        }
        if (o < col + lanes) {
            most = hn::Max(most, bits(k, o));
        }
    }
    return hn::AllFalse(du, hn::Gt(hn::Max(most, most2), hn::BitCast(du, hn::Set(d, sure))));
#else
    const V bound = hn::Set(d, sure);
    M ok = hn::Not(hn::FirstN(d, 0));
    for (size_t k = len; k > 0; k = k > 16 ? k - 16 : 0) {
        for (size_t o = col; o < col + lanes; o += kLanes) {
            ok = hn::And(ok, hn::Le(hn::Load(d, rows[k] + o), bound));
        }
    }
    return hn::AllTrue(d, ok);
#endif
}

// Adds to cnt the steps that the lanes at column `col` ran of rows 1 .. len;
// returns the lanes still running after them. A NaN r, which only follows
// an inf r within the block, ends nothing more.
template <size_t W>
HWY_INLINE M CountRows(const double (*rows)[W], size_t col, size_t len, V lim, VI& cnt) {
    const D d;
    const VI one = hn::Set(DI(), 1);
    if (len == 0) {
        return hn::Not(hn::FirstN(d, 0));
    }
    M running = hn::Le(hn::Load(d, rows[1] + col), lim);
    cnt = CountIf(cnt, running, one);
    for (size_t k = 2; k <= len; ++k) {
        // The chain from row to row is one AND, not the compare.
        running = hn::And(running, hn::Le(hn::Load(d, rows[k] + col), lim));
        cnt = CountIf(cnt, running, one);
    }
    return running;
}

// Whether CountAllRows counts: where a vector of 64-bit integers converts
// to doubles in one instruction (AVX-512). There the compares and ANDs of
// CountRows go to mask registers, and the few ports that handle those hold
// the count up; integer operations spread over all the vector ports.
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
constexpr bool kCountByBits = true;
#else
constexpr bool kCountByBits = false;
#endif

// Adds to each group's cnt the steps its lanes ran of rows 1 .. len
// (len <= 63), as CountRows does, for lanes that all ran at row 0; the lanes
// still running are those whose cnt grew by len. Three integer operations a
// row and group, no masks: r >= +0 (a sum of squares) orders like its bits,
// so r exceeds lim exactly when the integer b - bits(r) is negative, with b
// the bits of lim (of +0 for a lim of -0; -1 for a lim below 0, which every
// r exceeds). An r of NaN only follows an r of inf, which the first escape
// already took. Each row's sign bit goes into the top of a word that moves
// down a bit a row, so that row k ends at bit 62 - len + k (after one last
// shift); the lowest set bit is the first row past lim, and its position is
// the exponent of the word's lowest bit converted to a double.
template <size_t G, size_t W>
HWY_INLINE void CountAllRows(const double (*rows)[W], size_t len, double lim, Group (&gs)[G]) {
    HWY_DASSERT(len <= 63);
    const D d;
    const DI di;
    const hn::RebindToUnsigned<D> du;
    using VU = hn::Vec<decltype(du)>;
    const VI limBits = hn::Set(di, lim >= 0.0 ? std::bit_cast<int64_t>(lim + 0.0) : int64_t{-1});
    const VU sign = hn::Set(du, uint64_t{1} << 63);
    VU past[G];
    EachGroup(gs, [&](Group&, size_t g) { past[g] = hn::Zero(du); });
    for (size_t k = 1; k <= len; ++k) {
        EachGroup(gs, [&](Group&, size_t g) {
            const VI t = hn::Sub(limBits, hn::BitCast(di, hn::Load(d, rows[k] + g * kLanes)));
            past[g] = hn::OrAnd(hn::ShiftRight<1>(past[g]), hn::BitCast(du, t), sign);
        });
    }
    // Steps run before the first row past lim at bit p: p + len - 63; the
    // exponent field of 2^p is p + 1023.
    const VI fromExponent = hn::Set(di, static_cast<int64_t>(len) - 63 - 1023);
    const VI whole = hn::Set(di, static_cast<int64_t>(len));
    EachGroup(gs, [&](Group& v, size_t g) {
        const VI word = hn::BitCast(di, hn::ShiftRight<1>(past[g]));
        const VI lowest = hn::And(word, hn::Sub(hn::Zero(di), word));
        const VI exponent = hn::ShiftRight<52>(hn::BitCast(di, hn::ConvertTo(d, lowest)));
        const VI ran =
            hn::IfThenElse(hn::Eq(lowest, hn::Zero(di)), whole, hn::Add(exponent, fromExponent));
        v.cnt = hn::Add(v.cnt, ran);
    });
}

// ------------------------------------------------------------ exact cycles
//
// Call two finite states (x, y) alike when they are equal under ==: the
// same bits, except that a coordinate may be -0 on one side and +0 on the
// other. Alike states step to alike states with the same escape test: x*x
// and y*y do not see the sign of a zero, so x' = (x*x - y*y) + cx has the
// same bits on both sides; (x + x) * y has the same bits, or is a zero on
// both sides (when x or y is a zero), so y' = (x + x) * y + cy has the same
// bits, or is a zero on both sides (when cy is a zero too); and
// r = x'*x' + y'*y' has the same bits. A running lane is finite: its last r
// was at most lim <= kLimFast. So if a lane's z after step b is alike to its
// z after an earlier step a, and it has not escaped through step b, every
// later step has the same r as the step b - a before it: the lane never
// escapes, and its count is rep + 1 (the counter fault when rep is
// 2147483647) however many steps are left. No tolerance: only == on both
// coordinates.
//
// Comparing only at the ends of chunks (the refill's, or the opening's
// stretches, C steps each) costs nothing per step. Both phases check at
// every other end, 2C steps apart for a lane (in the refill at a phase of
// its own), and only lanes that ran the whole chunk. After the comparison
// the saved z is replaced at the first check at or after the steps run
// since the opening (o; cnt - o is a multiple of C) reach a power of two,
// as in Brent's cycle finding: the z saved after step o + 2^j (or up to 2C
// steps later) is compared at the checks up to step o + 2^(j+1), which
// covers every multiple of lcm(p, 2C) steps up to about 2^j. An orbit that
// enters a cycle of period p at step m is thus caught by about step
// o + 4 * max(m, lcm(p, 2C)). Which checks find a cycle changes only how
// soon a pixel stops, never its count: an exact repeat means the budget, as
// running it out would. Checking at every other end balances the check's
// cost on views where no orbit repeats against how soon inside pixels stop.

// The lanes whose saved z a check replaces, `run` steps past the opening:
// those where a power of two lies in (run - 2C, run], that is, where run
// has a bit above the highest of before = run - 2C (or before <= 0).
template <size_t C>
HWY_INLINE M SavesAt(VI run) {
    const DI di;
    const VI before = hn::Sub(run, hn::Set(di, static_cast<int64_t>(2 * C)));
    return hn::RebindMask(D(), hn::Gt(hn::AndNot(before, run), before));
}

// The lanes of `ran` (those that ran the whole chunk) whose z is alike to
// the z saved at sx, sy (NaN: none yet).
HWY_INLINE M SameZ(V x, V y, M ran, const double* sx, const double* sy) {
    const D d;
    return hn::And(hn::And(ran, hn::Eq(x, hn::Load(d, sx))), hn::Eq(y, hn::Load(d, sy)));
}

#undef QUARLO_KERNEL_STEP_ASM
#if HWY_TARGET == HWY_AVX2 && (defined(__GNUC__) || defined(__clang__))
#define QUARLO_KERNEL_STEP_ASM 1
// With AVX2's 16 vector registers, four groups' z and x*x - y*y take 12;
// with the rest of the loop besides, the compiler spills x*x - y*y, whose
// reload then lies on the step's dependent chain. The opening's stretches
// and the refill's chunks therefore run the four groups in one asm block
// (StepsAsm4) that holds z and x*x - y*y in registers and does what StepRow
// does. The operations and their order are Step's: 2x = x + x,
// x' = (x*x - y*y) + cx, y' = 2x * y + cy, x'*x' and y'*y', their difference
// and their sum r. No fused multiply-add.

// The c of four groups, as StepsAsm4 reads them.
struct CBlock {
    alignas(32) double cx[16];
    double cy[16];  // 128 bytes after cx
};

// clang-format off
// One step of a group in asm: z in X and Y, x*x - y*y in D; c at OFF bytes
// into the c block (cx, then cy 128 bytes on); r goes to the next row, OFF
// bytes into it. ymm14 and ymm15 are scratch registers, named in the
// clobbers: operands for them would pass asm's limit of 30 operands.
#define QUARLO_STEP_ASM(X, Y, D, OFF)                     \
    "vaddpd %[" X "], %[" X "], %%ymm14\n\t"              \
    "vaddpd " OFF "(%[c]), %[" D "], %[" X "]\n\t"        \
    "vmulpd %[" Y "], %%ymm14, %%ymm14\n\t"               \
    "vaddpd 128+" OFF "(%[c]), %%ymm14, %[" Y "]\n\t"     \
    "vmulpd %[" X "], %[" X "], %%ymm14\n\t"              \
    "vmulpd %[" Y "], %[" Y "], %%ymm15\n\t"              \
    "vsubpd %%ymm15, %%ymm14, %[" D "]\n\t"               \
    "vaddpd %%ymm15, %%ymm14, %%ymm14\n\t"                \
    "vmovapd %%ymm14, 128+" OFF "(%[row])\n\t"
// clang-format on

// Steps from .. to - 1 (from < to) of four groups: row k + 1 of rows gets r
// after step k. c: cx of the groups, then their cy 128 bytes on.
HWY_INLINE void StepsAsm4(Group (&gs)[4], double (*rows)[16], size_t from, size_t to,
                          const double* c) {
    __m256d x0 = gs[0].x.raw, y0 = gs[0].y.raw, d0 = gs[0].diff.raw;
    __m256d x1 = gs[1].x.raw, y1 = gs[1].y.raw, d1 = gs[1].diff.raw;
    __m256d x2 = gs[2].x.raw, y2 = gs[2].y.raw, d2 = gs[2].diff.raw;
    __m256d x3 = gs[3].x.raw, y3 = gs[3].y.raw, d3 = gs[3].diff.raw;
    double* row = rows[from];
    asm volatile("1:\n\t"
                 QUARLO_STEP_ASM("x0", "y0", "d0", "0")
                 QUARLO_STEP_ASM("x1", "y1", "d1", "32")
                 QUARLO_STEP_ASM("x2", "y2", "d2", "64")
                 QUARLO_STEP_ASM("x3", "y3", "d3", "96")
                 "addq $128, %[row]\n\t"
                 "cmpq %[row], %[stop]\n\t"
                 "jne 1b"
                 : [x0] "+x"(x0), [y0] "+x"(y0), [d0] "+x"(d0), [x1] "+x"(x1), [y1] "+x"(y1),
                   [d1] "+x"(d1), [x2] "+x"(x2), [y2] "+x"(y2), [d2] "+x"(d2), [x3] "+x"(x3),
                   [y3] "+x"(y3), [d3] "+x"(d3), [row] "+r"(row)
                 : [stop] "r"(rows[to]), [c] "r"(c)
                 : "xmm14", "xmm15", "cc", "memory");
    gs[0].x.raw = x0, gs[0].y.raw = y0, gs[0].diff.raw = d0;
    gs[1].x.raw = x1, gs[1].y.raw = y1, gs[1].diff.raw = d1;
    gs[2].x.raw = x2, gs[2].y.raw = y2, gs[2].diff.raw = d2;
    gs[3].x.raw = x3, gs[3].y.raw = y3, gs[3].diff.raw = d3;
}
#undef QUARLO_STEP_ASM

// CountRows for the groups at columns a and b at once (len >= 1), without
// returning the lanes still running: the counts tell them. A mask lane is
// 64 bits of ones here; a row's masks of both groups share one vector, a's
// in the low half of each 64-bit lane and b's in the high half, so that
// the chain and the count take one operation each for both groups: ten
// operations a row for four groups instead of twelve.
template <size_t W>
HWY_INLINE void CountRowsPair(const double (*rows)[W], size_t a, size_t b, size_t len, V lim,
                              VI& cntA, VI& cntB) {
    const D d;
    const DI di;
    const hn::Repartition<int32_t, D> d32;
    using V32 = hn::Vec<decltype(d32)>;
    auto both = [&](size_t k) {
        const V ma = hn::VecFromMask(d, hn::Le(hn::Load(d, rows[k] + a), lim));
        const V mb = hn::VecFromMask(d, hn::Le(hn::Load(d, rows[k] + b), lim));
        return hn::OddEven(hn::BitCast(d32, mb), hn::BitCast(d32, ma));
    };
    V32 running = both(1);
    V32 cnt = hn::Sub(hn::Zero(d32), running);
    for (size_t k = 2; k <= len; ++k) {
        running = hn::And(running, both(k));
        cnt = hn::Sub(cnt, running);
    }
    const VI c = hn::BitCast(di, cnt);
    cntA = hn::Add(cntA, hn::And(c, hn::Set(di, int64_t{0xFFFFFFFF})));
    cntB = hn::Add(cntB, hn::ShiftRight<32>(c));
}

#endif

// The cycle check of the opening's stretches (see OpenBatch): whether it
// runs, the steps run before the stretches (the count of every lane), the
// opening's steps, the budget, and the z saved.
struct CycleCheck {
    bool on;
    int64_t before;
    int64_t opening;
    int64_t end;
    double* sx;
    double* sy;
};

// The cycle check at the end of a stretch `run` steps past the opening (a
// multiple of 2C), where every lane shares run: a lane found cycling gets
// `cycled` as its count. Returns whether any was found: the batch then
// ends. The x of all groups are compared first, and y only where an x is
// equal, which is rare. This shape matters with AVX2's 16 registers: with
// both compared in every group, or the saves under a mask, the compiler
// kept a count of the batch's last stretch in memory, a store and a reload
// every row.
template <size_t G, size_t C>
HWY_INLINE bool StretchRepeats(Group (&gs)[G], int64_t run, double* sx, double* sy, VI cycled) {
    const D d;
    M xs = hn::FirstN(d, 0);
    EachGroup(gs, [&](Group& v, size_t g) {
        xs = hn::Or(xs, hn::And(v.act, hn::Eq(v.x, hn::Load(d, sx + g * kLanes))));
    });
    if (!hn::AllFalse(d, xs)) {
        M found = hn::FirstN(d, 0);
        EachGroup(gs, [&](Group& v, size_t g) {
            const M c = SameZ(v.x, v.y, v.act, sx + g * kLanes, sy + g * kLanes);
            v.cnt = hn::IfThenElse(hn::RebindMask(DI(), c), cycled, v.cnt);
            found = hn::Or(found, c);
        });
        if (!hn::AllFalse(d, found)) {
            return true;
        }
    }
    if (!hn::AllFalse(d, SavesAt<C>(hn::Set(DI(), run)))) {
        EachGroup(gs, [&](Group& v, size_t g) {
            hn::Store(v.x, d, sx + g * kLanes);
            hn::Store(v.y, d, sy + g * kLanes);
        });
    }
    return false;
}

// `first` steps (0 to kOpening + C - 1) of the groups, every lane running
// and with the same count at the start, then stretches of C steps with no
// test per step (rows of r) for as long as every lane surely still runs
// after the last one, and at most `most` steps in all (first plus a
// multiple of C); returns the steps run. Counts and running lanes are then
// as after as many Steps. While every lane runs, all share one count, kept
// in a scalar. With check.on, the end of every other stretch past the
// opening applies the cycle check (StretchRepeats): a lane found cycling
// gets check.end as its count, and the stretches end.
template <size_t G, size_t C>
HWY_INLINE size_t Stretches(Group (&gs)[G], size_t first, size_t most, double limS,
                            const CycleCheck& check) {
    constexpr size_t kMost = kOpening + C;
    HWY_DASSERT(first < kMost);
    const D d;
    const DI di;
    const double sure = SureBound(limS);
    alignas(64) double rows[kMost][G * kLanes];
#ifdef QUARLO_KERNEL_STEP_ASM
    CBlock c;
    if constexpr (G == 4) {
        EachGroup(gs, [&](Group& v, size_t g) {
            hn::Store(v.cx, d, c.cx + g * kLanes);
            hn::Store(v.cy, d, c.cy + g * kLanes);
        });
    }
#endif
    auto run = [&](size_t len) {
#ifdef QUARLO_KERNEL_STEP_ASM
        if constexpr (G == 4) {
            StepsAsm4(gs, rows, 0, len, c.cx);
            return;
        }
#endif
        for (size_t k = 0; k < len; ++k) {
            EachGroup(gs, [&](Group& v, size_t g) { StepRow(v, rows[k + 1] + g * kLanes); });
        }
    };
    size_t done = 0;
    size_t len = first > 0 ? first : C;  // steps of the current stretch
    bool sureAll = false;
    for (;;) {
        run(len);
        done += len;
        sureAll = SurelyRan(rows, 0, G * kLanes, len, sure);
        if (done >= most || !sureAll) {
            break;
        }
        const int64_t ran = check.before + static_cast<int64_t>(done) - check.opening;
        // done is added to every count below: a lane found cycling gets end
        // in all.
        if (check.on && ran > 0 && ran % static_cast<int64_t>(2 * C) == 0 &&
            StretchRepeats<G, C>(gs, ran, check.sx, check.sy,
                                 hn::Set(di, check.end - static_cast<int64_t>(done)))) {
            break;
        }
        len = C;
    }
    const M all = hn::Not(hn::FirstN(d, 0));
    if (sureAll) {
        const VI whole = hn::Set(di, static_cast<int64_t>(done));
        EachGroup(gs, [&](Group& v, size_t) {
            v.cnt = hn::Add(v.cnt, whole);
            v.act = all;
        });
        return done;
    }
    // Every stretch before the last ran whole.
    const VI before = hn::Set(di, static_cast<int64_t>(done - len));
    EachGroup(gs, [&](Group& v, size_t) { v.cnt = hn::Add(v.cnt, before); });
    if constexpr (kCountByBits) {
        // Where every lane surely ran all but the stretch's last 16 steps,
        // only those are counted: the first escape of a batch falls in
        // either half of its last stretch about as often.
        size_t from = 0;
        if (len > 16 && SurelyRan(rows, 0, G * kLanes, len - 16, sure)) {
            from = len - 16;
            const VI ran = hn::Set(di, static_cast<int64_t>(from));
            EachGroup(gs, [&](Group& v, size_t) { v.cnt = hn::Add(v.cnt, ran); });
        }
        CountAllRows(rows + from, len - from, limS, gs);
        const VI counted = hn::Set(di, check.before + static_cast<int64_t>(done));
        EachGroup(gs, [&](Group& v, size_t) { v.act = hn::RebindMask(d, hn::Eq(v.cnt, counted)); });
    } else {
        const V lim = hn::Set(d, limS);
        EachGroup(gs, [&](Group& v, size_t g) {
            if (SurelyRan(rows, g * kLanes, kLanes, len, sure)) {
                v.cnt = hn::Add(v.cnt, hn::Set(di, static_cast<int64_t>(len)));
                v.act = all;
            } else {
                v.act = CountRows(rows, g * kLanes, len, lim, v.cnt);
            }
        });
    }
    return done;
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

// f(std::integral_constant<size_t, G>) for the G from 1 to kMaxGroups that
// is `groups`, or kMaxGroups for more.
template <size_t G = 1, typename F>
HWY_INLINE auto WithGroups(size_t groups, const F& f) {
    if constexpr (G < kMaxGroups) {
        if (groups > G) {
            return WithGroups<G + 1>(groups, f);
        }
    }
    return f(std::integral_constant<size_t, G>());
}

template <typename F, size_t... I>
HWY_INLINE void EachGroupOf(Group* g, const F& f, std::index_sequence<I...>) {
    (f(g[I], I), ...);
}

// Applies f(group, index) to each of the G groups, unrolled: every index is
// a constant, so the compiler keeps the groups in registers.
template <size_t G, typename F>
HWY_INLINE void EachGroup(Group (&g)[G], const F& f) {
    static_assert(G >= 1 && G <= kMaxGroups);
    EachGroupOf(g, f, std::make_index_sequence<G>());
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#endif  // QUARLO_CORE_KERNEL_STEP_INL_H_
