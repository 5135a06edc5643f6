// The two phases of a column: the opening, rows side by side in vectors, and
// the refill's chunks, lanes with a pixel each. Included once per target
// by kernel.cpp.
#if defined(QUARLO_CORE_KERNEL_CHUNKS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QUARLO_CORE_KERNEL_CHUNKS_INL_H_
#undef QUARLO_CORE_KERNEL_CHUNKS_INL_H_
#else
#define QUARLO_CORE_KERNEL_CHUNKS_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/kernel_step-inl.h"

// Every call inlined into the two long loops keeps their vectors in
// registers. The sanitizer and fuzzing builds leave inlining to the
// compiler: instrumented and flattened, the kernel takes minutes to compile.
#ifndef QUARLO_FLATTEN
#ifdef QUARLO_NO_FLATTEN
#define QUARLO_FLATTEN
#else
#define QUARLO_FLATTEN HWY_FLATTEN
#endif
#endif

HWY_BEFORE_NAMESPACE();
namespace core {
namespace HWY_NAMESPACE {
namespace {

// ---------------------------------------------------------------- opening

// The state of N pixels still running, one entry each: what the refill's
// lanes carry between chunks (Slots) and what the queue of pixels left by
// the opening holds (Queue).
template <size_t N>
struct Pixels {
    alignas(64) double x[N];
    alignas(64) double y[N];
    alignas(64) double diff[N];  // x*x - y*y
    alignas(64) double cx[N];
    alignas(64) double cy[N];
    alignas(64) int64_t cnt[N];  // steps done without escaping
    // The z the cycle check compares with; NaN (equal to nothing) until the
    // pixel has saved one.
    alignas(64) double sx[N];
    alignas(64) double sy[N];
    // Where the pixel's count goes: column * 801 + row, from the block's
    // first column; -1 for a lane without a pixel.
    alignas(64) int64_t at[N];
};

// Entry i of `to` becomes entry j of `from`.
template <size_t N, size_t K>
HWY_INLINE void CopyPixel(Pixels<N>& to, size_t i, const Pixels<K>& from, size_t j) {
    to.x[i] = from.x[j];
    to.y[i] = from.y[j];
    to.diff[i] = from.diff[j];
    to.cx[i] = from.cx[j];
    to.cy[i] = from.cy[j];
    to.cnt[i] = from.cnt[j];
    to.sx[i] = from.sx[j];
    to.sy[i] = from.sy[j];
    to.at[i] = from.at[j];
}

// The pixels still running after the opening of the open columns: what the
// refill takes its pixels from. Column k of the batch appends to region k,
// from index k * kRegion on, in ascending rows; each region has room for a
// whole column and one vector written past its last pixel.
inline constexpr size_t kQueueRegion = kPicSide + kLanes;
struct Queue : Pixels<2 * kQueueRegion> {
    static constexpr size_t kRegion = kQueueRegion;
    size_t size[2];  // pixels in each region
};

#if HWY_TARGET == HWY_AVX2
// For each of the 16 masks of four 64-bit lanes, the 32-bit lane indices
// that move its lanes, in order, to the front.
struct CompressIndices {
    alignas(32) int32_t of[16][8];
};
constexpr CompressIndices MakeCompressIndices() {
    CompressIndices t{};
    for (int m = 0; m < 16; ++m) {
        int k = 0;
        for (int lane = 0; lane < 4; ++lane) {
            if ((m >> lane) & 1) {
                t.of[m][2 * k] = 2 * lane;
                t.of[m][2 * k + 1] = 2 * lane + 1;
                ++k;
            }
        }
        for (; k < 4; ++k) {
            t.of[m][2 * k] = t.of[m][2 * k + 1] = 0;
        }
    }
    return t;
}
inline constexpr CompressIndices kCompressIndices = MakeCompressIndices();
#endif

// Writes the lanes of m of v (as 64-bit lanes) to p, in order, and may write
// anything to the rest of a whole vector from p on.
template <typename T, class VT>
HWY_INLINE void PutLanes(VT v, M m, T* p) {
    static_assert(sizeof(T) == 8);
#if HWY_TARGET <= HWY_AVX3
    // The compress into a register, then an ordinary store: AMD's Zen 4
    // runs a compress straight to memory as a long microcode.
    const __m512i w = _mm512_castpd_si512(hn::BitCast(D(), v).raw);
    _mm512_storeu_si512(p, _mm512_maskz_compress_epi64(m.raw, w));
#elif HWY_TARGET == HWY_AVX2
    const __m256i w = _mm256_castpd_si256(hn::BitCast(D(), v).raw);
    const auto bits = static_cast<unsigned>(_mm256_movemask_pd(m.raw));
    const __m256i idx =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(kCompressIndices.of[bits]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_permutevar8x32_epi32(w, idx));
#else
    alignas(64) T lanes[kLanes];
    hn::Store(v, hn::DFromV<VT>(), lanes);
    uint8_t bits[8] = {};
    hn::StoreMaskBits(D(), m, bits);
    size_t k = 0;
    for (size_t j = 0; j < kLanes; ++j) {
        if ((bits[j / 8] >> (j % 8)) & 1) {
            p[k++] = lanes[j];
        }
    }
#endif
}

// The columns a batch of the opening runs side by side: one, or two
// neighbours, each with G / cols of the batch's groups.
struct Batch {
    size_t cols;
    double cx[2];
    int64_t at[2];    // Queue::at of each column's row 0
    int32_t* out[2];  // counts of the column's rows
    int64_t budget;   // rep + 1: a lane with this count is done
    Queue* queue;     // where the lanes still running go
};

// Appends the lanes of `more` of v to region k of q: z, c, the count, the
// saved z of the cycle check (sx, sy: the group's) and the output indices
// from `at` on.
HWY_INLINE void Enqueue(Queue& q, size_t k, const Group& v, M more, const double* sx,
                        const double* sy, int64_t at) {
    const D d;
    const size_t t = k * Queue::kRegion + q.size[k];
    PutLanes(v.x, more, q.x + t);
    PutLanes(v.y, more, q.y + t);
    PutLanes(v.diff, more, q.diff + t);
    PutLanes(v.cx, more, q.cx + t);
    PutLanes(v.cy, more, q.cy + t);
    PutLanes(hn::Load(d, sx), more, q.sx + t);
    PutLanes(hn::Load(d, sy), more, q.sy + t);
    PutLanes(v.cnt, more, q.cnt + t);
    PutLanes(hn::Iota(DI(), at), more, q.at + t);
    q.size[k] += hn::CountTrue(d, more);
}

// Writes the counts of rows r .. r + kLanes - 1 that lie below 801 to
// outCol. Counts here are at most rep + 1: the low half of each lane.
HWY_INLINE void StoreCounts(VI cnt, int32_t* outCol, size_t r) {
    const hn::Rebind<int32_t, D> di32;
    const auto counts = hn::BitCast(
        di32,
        hn::TruncateTo(hn::Rebind<uint32_t, D>(), hn::BitCast(hn::RebindToUnsigned<D>(), cnt)));
    if (r + kLanes <= kPicSide) {
        hn::StoreU(counts, di32, outCol + r);
    } else {
        int32_t tmp[kLanes];
        hn::StoreU(counts, di32, tmp);
        std::copy(tmp, tmp + (r < kPicSide ? kPicSide - r : 0), outCol + r);
    }
}

// Runs rows r0 .. r0 + G / b.cols * kLanes - 1 of each column of b (ys is
// padded past row 800) for up to `steps` steps, stopping once every lane has
// escaped. A full batch (`full`: as many groups as are in flight) whose lanes
// all still run then goes on in C-step stretches with no test per
// step (rows of r, see StepRow), for as long as every lane surely runs, up to
// `end` steps (the budget, or `steps` for none): neighbouring pixels tend to
// run long together, and a lane kept here costs no hand-over to the refill.
// With `cycles`, the stretches apply the cycle check, and a lane found
// cycling gets the budget as its count. Writes the counts of rows below 801,
// and appends the lanes still running short of the budget to the batch's
// queue.
//
// goOn: on entry, whether to start without the tested steps (a batch nearby
// ran its whole opening in every lane, so this one most likely will too);
// on return, whether this batch did.
template <size_t G, size_t C>
HWY_NOINLINE QUARLO_FLATTEN void OpenBatch(const Batch& b, const double* ys, size_t r0,
                                           size_t steps, int64_t end, bool cycles, double limS,
                                           bool full, bool& goOn) {
    const D d;
    const DI di;
    const V lim = hn::Set(d, limS);
    const VI one = hn::Set(di, 1);
    const V zero = hn::Zero(d);
    const M all = hn::Eq(zero, zero);
    const size_t per = G / b.cols;  // groups of each column
    auto start = [&](size_t g) {
        const size_t k = g / per;
        return Group{zero,
                     zero,
                     zero,
                     hn::Set(d, b.cx[k]),
                     hn::LoadU(d, ys + r0 + (g - k * per) * kLanes),
                     hn::Zero(di),
                     all};
    };
    Group gs[G];
    EachGroup(gs, [&](Group& v, size_t i) { v = start(i); });
    // Tested after every step for the first few: many batches of the start
    // view escape within a few. A batch whose lanes all run after those
    // goes on without tests.
    size_t i = 0;
    bool runs = true;
    auto checkedSteps = [&](size_t upTo) {
        for (; runs && i < upTo; ++i) {
            EachGroup(gs, [&](Group& v, size_t) { Step(v, lim, one); });
            M any = gs[0].act;
            EachGroup(gs, [&](Group& v, size_t) { any = hn::Or(any, v.act); });
            runs = !hn::AllFalse(d, any);
        }
    };
    if (!(full && goOn)) {
        checkedSteps(std::min(steps, kOpeningTested));
    }
    const V nan = hn::Set(d, std::numeric_limits<double>::quiet_NaN());
    alignas(64) double sx[G * kLanes];
    alignas(64) double sy[G * kLanes];
    auto allRun = [&] {
        M a = gs[0].act;
        EachGroup(gs, [&](Group& v, size_t) { a = hn::And(a, v.act); });
        return hn::AllTrue(d, a);
    };
    const bool extend = full && runs && allRun();
    EachGroup(gs, [&](Group&, size_t g) {
        hn::Store(nan, d, sx + g * kLanes);
        hn::Store(nan, d, sy + g * kLanes);
    });
    if (!extend) {
        checkedSteps(steps);
    } else {
        // The rest of the opening, then stretches of C steps, up to the
        // budget; end is n only when the opening already ends there.
        const auto n = static_cast<int64_t>(i);
        const CycleCheck check{cycles, n, static_cast<int64_t>(steps), end, sx, sy};
        if (end > n) {
            Stretches<G, C>(gs, steps - i, static_cast<size_t>(end - n), limS, check);
        }
    }
    bool ranOpening = full;
    const VI opened = hn::Set(di, static_cast<int64_t>(steps));
    const VI budget = hn::Set(di, b.budget);
    auto finish = [&](Group& v, size_t g) {
        const size_t k = g / per;
        const size_t r = r0 + (g - k * per) * kLanes;
        M more = hn::And(v.act, hn::RebindMask(d, hn::Lt(v.cnt, budget)));
        if (r + kLanes > kPicSide) {
            // Rows past 800 escape at step 0 (RowsOf); a region holds 801.
            more = hn::And(more, hn::FirstN(d, r < kPicSide ? kPicSide - r : 0));
        }
        // Most batches of the start view's outer parts have escaped by now.
        if (!hn::AllFalse(d, more)) {
            Enqueue(*b.queue, k, v, more, sx + g * kLanes, sy + g * kLanes,
                    b.at[k] + static_cast<int64_t>(r));
        }
        StoreCounts(v.cnt, b.out[k], r);
        ranOpening = ranOpening && hn::AllFalse(di, hn::Lt(v.cnt, opened));
    };
    EachGroup(gs, finish);
    goOn = ranOpening;
}

// The next batch of b's columns, rows r0 ... (`rows` of them left), of up
// to `groups` groups in all.
HWY_INLINE void OpenRows(const Batch& b, size_t rows, size_t groups, size_t chunk, const double* ys,
                         size_t r0, size_t steps, int64_t end, bool cycles, double lim,
                         bool& goOn) {
    const size_t per = std::min((rows + kLanes - 1) / kLanes, groups / b.cols);
    WithChunk(chunk, [&](auto C) {
        WithGroups(per * b.cols, [&](auto G) {
            OpenBatch<G(), C()>(b, ys, r0, steps, end, cycles, lim, G() == groups, goOn);
        });
    });
}

// ----------------------------------------------------------------- refill

// Lane state between chunks, one entry per slot.
// Between chunks every lane with a pixel iterates: one that escaped or
// finished was handed its next pixel or set idle at the end of the chunk.
struct Slots : Pixels<kSlots> {};

HWY_INLINE Group LoadGroup(const Slots& s, size_t g) {
    const D d;
    const size_t o = g * kLanes;
    return Group{hn::Load(d, s.x + o),
                 hn::Load(d, s.y + o),
                 hn::Load(d, s.diff + o),
                 hn::Load(d, s.cx + o),
                 hn::Load(d, s.cy + o),
                 hn::Load(DI(), s.cnt + o),
                 hn::RebindMask(d, hn::Gt(hn::Load(DI(), s.at + o), hn::Set(DI(), -1)))};
}

// withZ false: z is stored already.
HWY_INLINE void StoreGroup(const Group& v, Slots& s, size_t g, bool withZ) {
    const D d;
    const size_t o = g * kLanes;
    if (withZ) {
        hn::Store(v.x, d, s.x + o);
        hn::Store(v.y, d, s.y + o);
        hn::Store(v.diff, d, s.diff + o);
    }
    hn::Store(v.cnt, DI(), s.cnt + o);
}

// Whether the refill's chunks count in their loop (Step: a compare under
// the running mask and an add under it, each step) rather than storing rows
// of r and counting them afterwards. The choice goes with the groups in
// flight, which groupsInFlightFor makes per machine: more than 4 only with
// AVX-512 on AMD's cores. There a loop that tests and counts runs at about
// the ceiling's rate, while counting from the rows, needed whenever a lane
// may have escaped (in most chunks), costs a large part of the loop again.
// Each group's running mask then lives in one of the seven mask registers
// that can gate an operation; an eighth group would spill them every step,
// so such a refill runs at most kMostCountingGroups groups.
HWY_INLINE bool CountsInLoop(size_t groups) {
    return kCountByBits && groups > 4;
}
constexpr size_t kMostCountingGroups = 7;

// The refill's vectors in flight for `groups` in the opening.
HWY_INLINE size_t RefillGroups(size_t groups) {
    return CountsInLoop(groups) ? std::min(groups, kMostCountingGroups) : groups;
}

// C steps of the first G groups of s, counted in the loop: gs gets z, the
// counts and the running lanes after them.
template <size_t G, size_t C>
HWY_INLINE void StepsCounted(const Slots& s, Group (&gs)[G], V lim) {
    EachGroup(gs, [&](Group& v, size_t g) { v = LoadGroup(s, g); });
    const VI one = hn::Set(DI(), 1);
    for (size_t k = 0; k < C; ++k) {
        EachGroup(gs, [&](Group& v, size_t) { Step(v, lim, one); });
    }
}

// C steps of the first G groups of s with rows of r, counted after them:
// gs gets z and the counts (idle lanes keep theirs). Returns whether z is
// stored in s already.
template <size_t G, size_t C>
HWY_INLINE bool StepsByRows(Slots& s, Group (&gs)[G], double limS) {
    const D d;
    const DI di;
    const V lim = hn::Set(d, limS);
    // Only z and x*x - y*y are live in the loop; the rest is loaded after.
    EachGroup(gs, [&](Group& v, size_t g) {
        const size_t o = g * kLanes;
        v.x = hn::Load(d, s.x + o);
        v.y = hn::Load(d, s.y + o);
        v.diff = hn::Load(d, s.diff + o);
    });
    alignas(64) double rows[C + 1][G * kLanes];
#ifdef QUARLO_KERNEL_STEP_ASM
    if constexpr (G == 4) {
        static_assert(offsetof(Slots, cy) == offsetof(Slots, cx) + 128);
        StepsAsm4(gs, rows, 0, C, s.cx);
    } else
#endif
    {
        EachGroup(gs, [&](Group& v, size_t g) {
            v.cx = hn::Load(d, s.cx + g * kLanes);
            v.cy = hn::Load(d, s.cy + g * kLanes);
        });
        for (size_t k = 0; k < C; ++k) {
            EachGroup(gs, [&](Group& v, size_t g) { StepRow(v, rows[k + 1] + g * kLanes); });
        }
    }
    // z is final here. With AVX2's 16 registers, storing it now rather
    // than keeping it in registers while the rows are counted spares spills;
    // with AVX-512 it was slower.
#ifdef QUARLO_KERNEL_STEP_ASM
    constexpr bool kStoreZFirst = G == 4;
#else
    constexpr bool kStoreZFirst = false;
#endif
    if constexpr (kStoreZFirst) {
        EachGroup(gs, [&](Group& v, size_t g) {
            const size_t o = g * kLanes;
            hn::Store(v.x, d, s.x + o);
            hn::Store(v.y, d, s.y + o);
            hn::Store(v.diff, d, s.diff + o);
        });
    }
    // One test for all the groups: when a lane may have escaped, every group
    // is counted from its rows. About half the boundary view's chunks have
    // a group with an escape, in no predictable group; a test per group
    // mispredicted so often that counting them all is cheaper.
    const bool allSure = SurelyRan(rows, 0, G * kLanes, C, SureBound(limS));
    EachGroup(gs, [&](Group& v, size_t g) {
        const Group in = LoadGroup(s, g);
        v.act = in.act;
        v.cnt = in.cnt;
    });
    if (allSure) {
        const VI chunk = hn::Set(di, static_cast<int64_t>(C));
        EachGroup(gs, [&](Group& v, size_t) { v.cnt = hn::Add(v.cnt, chunk); });
    } else {
#ifdef QUARLO_KERNEL_STEP_ASM
        if constexpr (G == 4) {
            CountRowsPair(rows, 0, kLanes, C, lim, gs[0].cnt, gs[1].cnt);
            CountRowsPair(rows, 2 * kLanes, 3 * kLanes, C, lim, gs[2].cnt, gs[3].cnt);
        } else
#endif
            if constexpr (kCountByBits) {
            CountAllRows(rows, C, limS, gs);
        } else {
            EachGroup(
                gs, [&](Group& v, size_t g) { (void)CountRows(rows, g * kLanes, C, lim, v.cnt); });
        }
    }
    // Idle lanes (act false) keep their count.
    EachGroup(gs, [&](Group& v, size_t g) {
        v.cnt = hn::IfThenElse(hn::RebindMask(di, v.act), v.cnt, hn::Load(di, s.cnt + g * kLanes));
    });
    return kStoreZFirst;
}

// Runs C steps on the first G groups; returns the slots whose pixel
// is finished (idle slots included), their counts final in s.cnt. openingS is
// the steps of the opening; cycles: whether to run the cycle check.
// kInLoop: see CountsInLoop.
template <size_t G, size_t C, bool kInLoop>
HWY_NOINLINE QUARLO_FLATTEN uint64_t RunChunk(Slots& s, double limS, int64_t budgetS,
                                              int64_t openingS, bool cycles) {
    const D d;
    const DI di;
    Group gs[G];
    bool zStored = false;
    if constexpr (kInLoop) {
        StepsCounted<G, C>(s, gs, hn::Set(d, limS));
    } else {
        zStored = StepsByRows<G, C>(s, gs, limS);
    }
    const VI budget = hn::Set(di, budgetS);
    const VI opening = hn::Set(di, openingS);
    const VI chunk = hn::Set(di, static_cast<int64_t>(C));
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
            const V x = zStored ? hn::Load(d, s.x + o) : v.x;
            const V y = zStored ? hn::Load(d, s.y + o) : v.y;
            // Compared before the save, or z would meet itself.
            full = hn::Or(full, SameZ(x, y, v.act, s.sx + o, s.sy + o));
            const M save = SavesAt<C>(hn::Sub(v.cnt, opening));
            hn::BlendedStore(x, save, d, s.sx + o);
            hn::BlendedStore(y, save, d, s.sy + o);
        }
        v.cnt = hn::IfThenElse(hn::RebindMask(di, full), budget, v.cnt);
        StoreGroup(v, s, g, !zStored);
        done |= MaskBits(hn::Or(full, hn::Not(v.act)), g);
    };
    EachGroup(gs, finish);
    return done;
}

HWY_INLINE uint64_t RunGroups(size_t groups, size_t chunk, bool inLoop, Slots& s, double lim,
                              int64_t budget, int64_t opening, bool cycles) {
    return WithChunk(chunk, [&](auto C) {
        return WithGroups(groups, [&](auto G) {
            // Counting in the loop goes with more than 4 groups in flight, and
            // so with chunks of kLongChunk steps (ChunkFor).
            if constexpr (kCountByBits && G() <= kMostCountingGroups && C() == kLongChunk) {
                if (inLoop) {
                    return RunChunk<G(), C(), true>(s, lim, budget, opening, cycles);
                }
            }
            return RunChunk<G(), C(), false>(s, lim, budget, opening, cycles);
        });
    });
}

void SetIdle(Slots& s, size_t i) {
    s.x[i] = s.y[i] = s.diff[i] = s.cx[i] = s.cy[i] = 0.0;
    s.sx[i] = s.sy[i] = std::numeric_limits<double>::quiet_NaN();
    s.cnt[i] = 0;
    s.at[i] = -1;
}

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#endif  // QUARLO_CORE_KERNEL_CHUNKS_INL_H_
