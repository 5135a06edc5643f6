#include "compute/threaded_count_source.h"

#include <algorithm>

#include "core/kernel.h"

namespace compute {

ThreadedCountSource::ThreadedCountSource(unsigned workers)
    : staging_(static_cast<size_t>(core::kPicSide) * core::kPicSide) {
    for (auto& s : state_) {
        s.store(kDone, std::memory_order_relaxed);
    }
    workers = std::max(1u, workers);
    threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) {
        threads_.emplace_back([this] { workerLoop(); });
    }
}

ThreadedCountSource::~ThreadedCountSource() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stop_ = true;
        next_.store(core::kPicSide);
    }
    wake_.notify_all();
    for (std::thread& t : threads_) {
        t.join();
    }
}

void ThreadedCountSource::cancel(std::unique_lock<std::mutex>& lock) {
    next_.store(core::kPicSide);
    idle_.wait(lock, [this] { return busy_ == 0; });
}

void ThreadedCountSource::begin(const core::View& view, double lim, int32_t rep) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cancel(lock);  // a run that ended early may have left work in flight
        view_ = view;
        lim_ = lim;
        rep_ = rep;
        for (auto& s : state_) {
            s.store(kFree, std::memory_order_relaxed);
        }
        next_.store(0);
        ++generation_;
    }
    wake_.notify_all();
}

void ThreadedCountSource::finish(int col, int faultRow) {
    faultRow_[static_cast<size_t>(col)] = faultRow;
    state_[static_cast<size_t>(col)].store(kDone, std::memory_order_release);
    state_[static_cast<size_t>(col)].notify_all();
    // Taking the lock orders this column's end against a waiter between its
    // test and its sleep, so no wake-up is lost.
    { const std::lock_guard<std::mutex> lock(readyMutex_); }
    ready_.notify_all();
}

bool ThreadedCountSource::waitReady(int col, std::chrono::milliseconds timeout) {
    const auto& state = state_[static_cast<size_t>(col)];
    const auto done = [&] { return state.load(std::memory_order_acquire) == kDone; };
    if (done()) {
        return true;
    }
    std::unique_lock<std::mutex> lock(readyMutex_);
    return ready_.wait_for(lock, timeout, done);
}

void ThreadedCountSource::compute(int col0, int ncols) {
    // Each column is a sweep of its own. A call over several stops at the
    // first fault, leaving the columns after it unspecified: those go on in
    // a call of their own.
    while (ncols > 0) {
        const core::SweepFault fault =
            core::computeColumns(view_, lim_, rep_, col0, ncols,
                                 staging_.data() + static_cast<size_t>(col0) * core::kPicSide);
        const int clean = fault.any() ? fault.col - col0 : ncols;
        for (int c = 0; c < clean; ++c) {
            finish(col0 + c, -1);
        }
        if (!fault.any()) {
            return;
        }
        finish(fault.col, fault.row);
        ncols -= clean + 1;
        col0 = fault.col + 1;
    }
}

// Takes the next block of columns in sweep order, or returns false when
// none is left. Columns the sweep took for itself are skipped.
bool ThreadedCountSource::takeBlock(int& col0, int& ncols) {
    int from = next_.load(std::memory_order_relaxed);
    int n = 0;
    do {
        if (from >= core::kPicSide) {
            return false;
        }
        n = core::columnsPerCall(core::kPicSide - from, static_cast<unsigned>(threads_.size()));
    } while (!next_.compare_exchange_weak(from, from + n, std::memory_order_relaxed));
    col0 = from;
    ncols = n;
    return true;
}

void ThreadedCountSource::workerLoop() {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
            if (stop_) {
                return;
            }
            seen = generation_;
            ++busy_;
        }
        int from = 0;
        int n = 0;
        while (takeBlock(from, n)) {
            // Claims the block's columns one by one and computes each run of
            // consecutive claimed columns with one call.
            int run0 = from;
            for (int col = from; col < from + n; ++col) {
                int expected = kFree;
                if (!state_[static_cast<size_t>(col)].compare_exchange_strong(
                        expected, kClaimed, std::memory_order_acq_rel)) {
                    compute(run0, col - run0);
                    run0 = col + 1;
                }
            }
            compute(run0, from + n - run0);
        }
        {
            std::unique_lock<std::mutex> lock(mutex_);
            --busy_;
        }
        idle_.notify_all();
    }
}

int ThreadedCountSource::column(int col, int32_t* out) {
    auto& state = state_[static_cast<size_t>(col)];
    int expected = kFree;
    if (state.compare_exchange_strong(expected, kClaimed, std::memory_order_acq_rel)) {
        compute(col, 1);  // no worker has it yet: the sweep does not wait
    }
    for (int s = state.load(std::memory_order_acquire); s != kDone;
         s = state.load(std::memory_order_acquire)) {
        state.wait(s, std::memory_order_acquire);
    }
    const int32_t* counts = staging_.data() + static_cast<size_t>(col) * core::kPicSide;
    std::copy(counts, counts + core::kPicSide, out);
    return faultRow_[static_cast<size_t>(col)];
}

}  // namespace compute
