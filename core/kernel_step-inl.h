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
// Independent vectors per step: enough to cover the latency of one step's
// dependent chain (multiply, subtract, add) without running out of registers.
// 4 beat 2 and 3 by 5 to 10 % on AVX-512, and also on AVX2 and SSE4, where
// some of the 16 registers spill; on AVX-512, 5 were no faster and 6 lost
// 3 % (masks then spill to general registers every step). With AVX2, 3
// groups spill less but lose as much in latency.
constexpr size_t kGroups = 4;
constexpr size_t kSlots = kLanes * kGroups;
// Fewest steps of the opening phase. Without it (refill from the first step)
// the start view runs at 2/3 of the speed, the many pixels that escape within
// a few steps each holding a lane for a whole chunk; 8 to 16 are equally good,
// 32 starts to lose. The opening runs from kOpening to kOpening + kMaxChunk - 1
// steps, so that the step budget ends exactly at a chunk end (see Feed).
constexpr size_t kOpening = 16;
// Steps of the opening after each of which a batch is tested for having
// escaped in every lane.
constexpr size_t kOpeningTested = 8;
// Steps of every refill chunk, and of every stretch of a batch that goes on
// in the opening. Lanes that finish early idle until the chunk ends, so
// longer chunks waste more; shorter ones pay the refill more often. Since
// most steps run in the opening's stretches, 16 beats 32 by 3 to 5 % on the
// boundary view (32 once beat 16, when every pixel went through the
// refill); 64 lost 5 % on deep boundary views. Halving the chunk when many
// lanes finish and doubling it when none did was no better. Every chunk is
// this long, so at each chunk end a running lane has run a multiple of
// kMaxChunk steps since the opening, which the cycle check relies on.
// Stretching the opening so that the budget ends at a chunk end beat both
// shortening the chunk for a lane near its budget (as before the cycle
// check) and letting such a lane run past its budget: 4 % on the start view.
constexpr size_t kMaxChunk = 16;
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

// The iteration proper, in the reference's order of operations: x + x is
// exactly 2x (subnormals included), while 2 * (x * y) would round
// differently. The squares of the new z serve both the escape test and the
// next step: the same products of the same values. Their difference, the
// next step's first operation, is taken here already, so that only it and
// not both squares stay live from one step to the next (fewer registers
// spill where there are 16). Returns r = |z|^2.
HWY_INLINE V Advance(V& x, V& y, V& diff, V cx, V cy) {
    // x + x first: the compiler then need not copy x before xn replaces it.
    const V twoX = hn::Add(x, x);
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

#undef QUARLO_KERNEL_STEP_ASM
#if HWY_TARGET == HWY_AVX2 && (defined(__GNUC__) || defined(__clang__))
#define QUARLO_KERNEL_STEP_ASM 1
// With AVX2's 16 vector registers, four groups' z and x*x - y*y take 12;
// with the masks and counts besides, the compiler spills x*x - y*y, whose
// reload then lies on the step's dependent chain. StretchesAvx2 runs the
// opening's stretches with one asm block per group and step (StepAsm) that
// holds z and x*x - y*y in registers and stores the mask of running lanes
// after each step: the count follows from those masks after the loop, so
// the loop has no count to update, one operation fewer on the vector ports
// (the store goes to the store port). 5 to 8 % faster on the start and
// boundary views than the compiled loop, about 8 % where most pixels run
// long. It goes from one stretch to the next itself, testing only whether
// every lane still runs, until one has escaped: setting up and counting
// once per batch rather than once per stretch gained 3 points of the
// ceiling on the start view and 2 on the boundary view.
// The operations and their order are Step's exactly: 2x = x + x,
// x' = (x*x - y*y) + cx, y' = 2x * y + cy, x'*x' and y'*y', their
// difference and their sum r, act &= !(r > lim) (ordered: a NaN r keeps
// act, as hn::Gt); then cnt -= act for each step. No fused multiply-add.
HWY_INLINE void StepAsm(__m256d& x, __m256d& y, __m256d& diff, const double* before, double* after,
                        const double* cx, const double* cy, const double* lim) {
    __m256d t0, t1;
    asm("vaddpd %[x], %[x], %[t0]\n\t"
        "vaddpd %[cx], %[diff], %[x]\n\t"
        "vmulpd %[y], %[t0], %[t0]\n\t"
        "vaddpd %[cy], %[t0], %[y]\n\t"
        "vmulpd %[x], %[x], %[t0]\n\t"
        "vmulpd %[y], %[y], %[t1]\n\t"
        "vsubpd %[t1], %[t0], %[diff]\n\t"
        "vaddpd %[t1], %[t0], %[t0]\n\t"
        "vcmppd $0x1e, %[lim], %[t0], %[t0]\n\t"
        "vandnpd %[before], %[t0], %[t0]\n\t"
        "vmovapd %[t0], %[after]"
        : [x] "+x"(x), [y] "+x"(y), [diff] "+x"(diff), [t0] "=&x"(t0), [t1] "=&x"(t1),
          [after] "=m"(*reinterpret_cast<double(*)[4]>(after))
        : [before] "m"(*reinterpret_cast<const double(*)[4]>(before)),
          [cx] "m"(*reinterpret_cast<const double(*)[4]>(cx)),
          [cy] "m"(*reinterpret_cast<const double(*)[4]>(cy)),
          [lim] "m"(*reinterpret_cast<const double(*)[4]>(lim)));
}

// `first` steps (0 to 2 * kMaxChunk - 1) of the four groups, every lane
// running at the start, then stretches of kMaxChunk steps for as long as
// every lane still runs after the last one and at most `most` steps in all
// (first plus a multiple of kMaxChunk); returns the steps run. Counts and
// running lanes are as after as many Steps.
template <size_t G>
HWY_INLINE size_t StretchesAvx2(Group (&gs)[G], size_t first, size_t most, V lim) {
    static_assert(G == 4 && kLanes == 4);
    constexpr size_t kMost = 2 * kMaxChunk;
    // The opening's rest, `first`, is at most its longest length less the
    // tested steps before it: the mask rows below hold it.
    static_assert(kOpening + kMaxChunk - 1 - kOpeningTested < kMost);
    HWY_DASSERT(first < kMost);
    const D d;
    const DI di;
    // act[k]: the mask of running lanes after step k of the last stretch;
    // act[0], all ones, serves every stretch.
    alignas(32) double act[kMost + 1][G * kLanes];
    alignas(32) double cx[G * kLanes];
    alignas(32) double cy[G * kLanes];
    alignas(32) double limv[kLanes];
    hn::Store(lim, d, limv);
    const V ones = hn::VecFromMask(d, hn::Eq(lim, lim));
    EachGroup(gs, [&](Group& v, size_t g) {
        hn::Store(ones, d, act[0] + g * kLanes);
        hn::Store(v.cx, d, cx + g * kLanes);
        hn::Store(v.cy, d, cy + g * kLanes);
    });
    __m256d x0 = gs[0].x.raw, y0 = gs[0].y.raw, d0 = gs[0].diff.raw;
    __m256d x1 = gs[1].x.raw, y1 = gs[1].y.raw, d1 = gs[1].diff.raw;
    __m256d x2 = gs[2].x.raw, y2 = gs[2].y.raw, d2 = gs[2].diff.raw;
    __m256d x3 = gs[3].x.raw, y3 = gs[3].y.raw, d3 = gs[3].diff.raw;
    size_t done = 0;
    size_t len = first > 0 ? first : kMaxChunk;  // steps of the current stretch
    for (;;) {
        for (size_t k = 0; k < len; ++k) {
            StepAsm(x0, y0, d0, act[k], act[k + 1], cx, cy, limv);
            StepAsm(x1, y1, d1, act[k] + 4, act[k + 1] + 4, cx + 4, cy + 4, limv);
            StepAsm(x2, y2, d2, act[k] + 8, act[k + 1] + 8, cx + 8, cy + 8, limv);
            StepAsm(x3, y3, d3, act[k] + 12, act[k + 1] + 12, cx + 12, cy + 12, limv);
        }
        done += len;
        const double* last = act[len];
        const V a = hn::And(hn::And(hn::Load(d, last), hn::Load(d, last + 4)),
                            hn::And(hn::Load(d, last + 8), hn::Load(d, last + 12)));
        if (done >= most || !hn::AllTrue(d, hn::MaskFromVec(a))) {
            break;
        }
        len = kMaxChunk;
    }
    gs[0].x.raw = x0, gs[0].y.raw = y0, gs[0].diff.raw = d0;
    gs[1].x.raw = x1, gs[1].y.raw = y1, gs[1].diff.raw = d1;
    gs[2].x.raw = x2, gs[2].y.raw = y2, gs[2].diff.raw = d2;
    gs[3].x.raw = x3, gs[3].y.raw = y3, gs[3].diff.raw = d3;
    EachGroup(gs, [&](Group& v, size_t g) {
        const M last = hn::MaskFromVec(hn::Load(d, act[len] + g * kLanes));
        if (hn::AllTrue(d, last)) {
            v.cnt = hn::Add(v.cnt, hn::Set(di, static_cast<int64_t>(done)));
        } else {
            // Every stretch before the last ran whole; in the last, a lane's
            // mask is -1 for every step it ran, 0 from its escape on.
            v.cnt = hn::Add(v.cnt, hn::Set(di, static_cast<int64_t>(done - len)));
            for (size_t k = 1; k <= len; ++k) {
                v.cnt = hn::Sub(v.cnt, hn::BitCast(di, hn::Load(d, act[k] + g * kLanes)));
            }
        }
        v.act = last;
    });
    return done;
}
#endif

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

// f(std::integral_constant<size_t, G>) for the G from 1 to kGroups that is
// `groups`, or kGroups for more.
template <size_t G = 1, typename F>
HWY_INLINE auto WithGroups(size_t groups, const F& f) {
    if constexpr (G < kGroups) {
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
    static_assert(G >= 1 && G <= kGroups);
    EachGroupOf(g, f, std::make_index_sequence<G>());
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#endif  // QUARLO_CORE_KERNEL_STEP_INL_H_
