// Feeding the refill: the pixels that outlast the opening, in sweep order,
// the columns opened as they are reached, and the rows' cy. Included once
// per target by kernel.cpp.
#if defined(QUARLO_CORE_KERNEL_FEED_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QUARLO_CORE_KERNEL_FEED_INL_H_
#undef QUARLO_CORE_KERNEL_FEED_INL_H_
#else
#define QUARLO_CORE_KERNEL_FEED_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>

#include "core/kernel_chunks-inl.h"

HWY_BEFORE_NAMESPACE();
namespace core {
namespace HWY_NAMESPACE {
namespace {

// ------------------------------------------------------------------- feed

// Hands out the pixels that outlast the opening, in sweep order: columns left
// to right, rows 800 down to 0, up to end(), which moves back to the first
// fault once one is known. Columns are opened as they are reached, two
// neighbours at once when the batches span two columns (pairs). When some
// mapped c might make step 0 non-finite, each column is scanned first, and the
// sweep ends at its first such pixel, which is never iterated.
class Feed {
public:
    Feed(const View& view, double lim, int64_t budget, bool cycles, size_t groups, bool pairs,
         size_t chunk, int col0, int ncols, const double* ys, bool scan, int32_t* out)
        : view_(view),
          lim_(lim),
          budget_(budget),
          cycles_(cycles),
          groups_(groups),
          // A scanned column may end early, and is opened alone.
          pairs_(pairs && !scan),
          chunk_(chunk),
          opening_(static_cast<size_t>(openingFor(budget, chunk))),
          // A count of 2^31 (rep 2^31 - 1) is the counter fault, which only
          // the refill reports, in sweep order: such a budget is never
          // reached in the opening.
          openingEnd_(budget > std::numeric_limits<int32_t>::max() ? static_cast<int64_t>(opening_)
                                                                   : budget),
          col0_(col0),
          ncols_(ncols),
          ys_(ys),
          scan_(scan),
          out_(out),
          end_(static_cast<int64_t>(ncols) * kPicSide) {}

    // Steps of the opening for a budget of `budget` steps: all of them when
    // they are few, otherwise kOpening or more, such that the refill's
    // chunks of `chunk` steps end exactly on the budget.
    static int64_t openingFor(int64_t budget, size_t chunk) {
        const auto lo = static_cast<int64_t>(kOpening);
        return budget <= lo ? budget : lo + (budget - lo) % static_cast<int64_t>(chunk);
    }

    bool exhausted() const { return exhausted_; }
    int64_t opening() const { return static_cast<int64_t>(opening_); }
    int64_t step0Fault() const { return step0Fault_; }

    // Ends the sweep before position q.
    void cut(int64_t q) { end_ = std::min(end_, q); }

    // Starts the next pixel in slot i, or returns false when there is none.
    HWY_INLINE bool take(Slots& s, size_t i) {
        for (;;) {
            while (cur_ < nopen_ && open_[cur_].npend == 0) {
                ++cur_;
            }
            if (cur_ < nopen_) {
                Open& o = open_[cur_];
                const Column& col = col_[cur_];
                const int row = o.pend[--o.npend];
                const int64_t q = o.colStart + (kPicSide - 1 - row);
                if (q >= end_) {
                    cur_ = nopen_;  // every pixel left lies at or after q
                    exhausted_ = true;
                    return false;
                }
                s.x[i] = col.x[row];
                s.y[i] = col.y[row];
                s.diff[i] = col.diff[row];
                s.cx[i] = o.cx;
                s.cy[i] = ys_[row];
                s.cnt[i] = col.cnt[row];
                s.sx[i] = col.sx[row];
                s.sy[i] = col.sy[row];
                s.pix[i] = q;
                return true;
            }
            const int64_t nextStart = static_cast<int64_t>(nextCol_) * kPicSide;
            if (nextCol_ >= ncols_ || nextStart >= end_) {
                exhausted_ = true;
                return false;
            }
            const int n = pairs_ && nextCol_ + 1 < ncols_ ? 2 : 1;
            open(nextCol_, n);
            nextCol_ += n;
        }
    }

private:
    // A column opened: its pixels still running after the opening.
    struct Open {
        int64_t colStart;  // sweep position of row 800
        double cx;
        int16_t pend[kPicSide];  // rows still running, ascending; taken from the back
        size_t npend;
    };

    // Opens columns c .. c + n - 1 (n is 1 or 2).
    void open(int c, int n) {
        Batch b{static_cast<size_t>(n), {}, {}, {}};
        size_t lo = 0;
        for (int k = 0; k < n; ++k) {
            Open& o = open_[k];
            o.colStart = static_cast<int64_t>(c + k) * kPicSide;
            o.cx = pixelX(col0_ + c + k, view_);
            o.npend = 0;
            b.cx[k] = o.cx;
            b.col[k] = &col_[k];
            b.out[k] = out_ + o.colStart;
        }
        nopen_ = static_cast<size_t>(n);
        cur_ = 0;
        if (scan_) {
            // Alone (see pairs_).
            const int row = kernel_detail::firstStep0Fault(open_[0].cx, ys_, lim_);
            if (row >= 0) {
                const int64_t q = open_[0].colStart + (kPicSide - 1 - row);
                step0Fault_ = q;
                cut(q);
                lo = static_cast<size_t>(row) + 1;
            }
        }
        bool goOn = false;
        const size_t perCol = groups_ / b.cols * kLanes;  // rows of a column in a batch
        for (size_t r0 = lo; r0 < kPicSide; r0 += perCol) {
            const uint64_t pending = OpenRows(b, kPicSide - r0, groups_, chunk_, ys_, r0, opening_,
                                              openingEnd_, cycles_, lim_, goOn);
            // Lanes of each column in this batch (the last may be short), and
            // the rows of them inside the column.
            const size_t lanes = std::min((kPicSide - r0 + kLanes - 1) / kLanes * kLanes, perCol);
            const size_t valid = std::min(kPicSide - r0, lanes);
            for (int k = 0; k < n; ++k) {
                uint64_t bits = pending >> (k * lanes);
                if (valid < 64) {
                    bits &= (uint64_t{1} << valid) - 1;
                }
                for (; bits != 0; bits &= bits - 1) {
                    const auto row = r0 + hwy::Num0BitsBelowLS1Bit_Nonzero64(bits);
                    if (col_[k].cnt[row] < budget_) {
                        open_[k].pend[open_[k].npend++] = static_cast<int16_t>(row);
                    }  // else its count, rep + 1, is written and final
                }
            }
        }
    }

    const View& view_;
    double lim_;
    int64_t budget_;      // rep + 1
    bool cycles_;         // whether to run the cycle check
    size_t groups_;       // vectors in flight, 1 to kMaxGroups
    bool pairs_;          // whether batches span two neighbouring columns
    size_t chunk_;        // steps of a chunk or stretch
    size_t opening_;      // steps of the opening: openingFor(rep + 1, chunk)
    int64_t openingEnd_;  // most steps a batch may run in the opening
    int col0_;
    int ncols_;
    const double* ys_;
    bool scan_;
    int32_t* out_;
    int64_t end_;
    int nextCol_ = 0;
    Column col_[2];
    Open open_[2];
    size_t nopen_ = 0;  // columns open
    size_t cur_ = 0;    // the open column whose pixels are being taken
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

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#endif  // QUARLO_CORE_KERNEL_FEED_INL_H_
