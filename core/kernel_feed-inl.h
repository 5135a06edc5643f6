// Feeding the refill: the pixels that outlast the opening, the columns
// opened as they are reached, and the rows' cy. Included once per target by
// kernel.cpp.
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

// Output index of sweep position q, and sweep position of output index q:
// within a column, row r is at output index r and sweep position 800 - r.
HWY_INLINE int64_t OutIndex(int64_t q) {
    const int64_t c = q / kPicSide;
    return c * kPicSide + (kPicSide - 1 - (q - c * kPicSide));
}

// Hands out the pixels that outlast the opening, up to end(), which moves
// back to the first fault once one is known: columns left to right, opened
// as they are reached, two neighbours at once when the batches span two
// columns (pairs). Within a column the order does not change the counts;
// rows go up, in the order the opening queued them, except where the step
// counter can overflow: there they go down, in sweep order, so that the
// first pixel found to overflow it ends the sweep before any pixel after it
// has run (each may run 2^31 steps). When some mapped c might make step 0
// non-finite, each column is scanned first, and the sweep ends at its first
// such pixel, which is never iterated.
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
          end_(static_cast<int64_t>(ncols) * kPicSide),
          sweepOrder_(budget > std::numeric_limits<int32_t>::max()) {
        queue_.size[0] = queue_.size[1] = 0;
    }

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

    // Ends the sweep before position q: no pixel at or after it is handed
    // out from now on.
    void cut(int64_t q) {
        end_ = std::min(end_, q);
        stop_ = keepBefore(head_, stop_);
        for (size_t k = region_ + 1; k < nopen_; ++k) {
            const size_t r = k * Queue::kRegion;
            queue_.size[k] = keepBefore(r, r + queue_.size[k]) - r;
        }
    }

    // Starts the next pixel in slot i, or returns false when there is none.
    HWY_INLINE bool take(Slots& s, size_t i) {
        if (head_ == stop_ && !nextRegion()) {
            return false;
        }
        CopyPixel(s, i, queue_, sweepOrder_ ? --stop_ : head_++);
        return true;
    }

private:
    // Moves on to the next region with a pixel in it, opening the next
    // columns when the open ones have none left; false when there are none
    // before end().
    bool nextRegion() {
        for (;;) {
            if (region_ + 1 < nopen_) {
                ++region_;
            } else {
                const int64_t nextStart = static_cast<int64_t>(nextCol_) * kPicSide;
                if (nextCol_ >= ncols_ || nextStart >= end_) {
                    exhausted_ = true;
                    return false;
                }
                const int n = pairs_ && nextCol_ + 1 < ncols_ ? 2 : 1;
                open(nextCol_, n);
                nextCol_ += n;
                nopen_ = static_cast<size_t>(n);
                region_ = 0;
            }
            head_ = region_ * Queue::kRegion;
            stop_ = head_ + queue_.size[region_];
            if (head_ < stop_) {
                return true;
            }
        }
    }

    // Keeps, in order, the queued pixels of [from, to) before end();
    // returns the end of those kept.
    size_t keepBefore(size_t from, size_t to) {
        size_t k = from;
        for (size_t h = from; h < to; ++h) {
            if (OutIndex(queue_.at[h]) < end_) {
                CopyPixel(queue_, k++, queue_, h);
            }
        }
        return k;
    }

    // Opens columns c .. c + n - 1 (n is 1 or 2): runs their opening, and
    // queues their pixels still running.
    void open(int c, int n) {
        queue_.size[0] = queue_.size[1] = 0;
        Batch b{static_cast<size_t>(n), {}, {}, {}, budget_, &queue_};
        size_t lo = 0;
        for (int k = 0; k < n; ++k) {
            const int64_t colStart = static_cast<int64_t>(c + k) * kPicSide;
            b.cx[k] = pixelX(col0_ + c + k, view_);
            b.at[k] = colStart;
            b.out[k] = out_ + colStart;
        }
        if (scan_) {
            // Alone (see pairs_).
            const int row = kernel_detail::firstStep0Fault(b.cx[0], ys_, lim_);
            if (row >= 0) {
                const int64_t q = b.at[0] + (kPicSide - 1 - row);
                step0Fault_ = q;
                cut(q);
                lo = static_cast<size_t>(row) + 1;
            }
        }
        bool goOn = false;
        const size_t perCol = groups_ / b.cols * kLanes;  // rows of a column in a batch
        for (size_t r0 = lo; r0 < kPicSide; r0 += perCol) {
            OpenRows(b, kPicSide - r0, groups_, chunk_, ys_, r0, opening_, openingEnd_, cycles_,
                     lim_, goOn);
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
    Queue queue_;
    size_t nopen_ = 0;   // columns open, each with its region of queue_
    size_t region_ = 0;  // the region being handed out
    // What is left of it: [head_, stop_), taken from the front, or from the
    // back in sweep order.
    size_t head_ = 0;
    size_t stop_ = 0;
    bool sweepOrder_;
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

}  // namespace
}  // namespace HWY_NAMESPACE
}  // namespace core
HWY_AFTER_NAMESPACE();

#endif  // QUARLO_CORE_KERNEL_FEED_INL_H_
