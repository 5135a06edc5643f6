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

void ThreadedCountSource::compute(int col) {
    const core::SweepFault fault = core::computeColumns(
        view_, lim_, rep_, col, 1, staging_.data() + static_cast<size_t>(col) * core::kPicSide);
    faultRow_[static_cast<size_t>(col)] = fault.any() ? fault.row : -1;
    state_[static_cast<size_t>(col)].store(kDone, std::memory_order_release);
    state_[static_cast<size_t>(col)].notify_all();
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
        for (;;) {
            const int col = next_.fetch_add(1, std::memory_order_relaxed);
            if (col >= core::kPicSide) {
                break;
            }
            int expected = kFree;
            if (state_[static_cast<size_t>(col)].compare_exchange_strong(
                    expected, kClaimed, std::memory_order_acq_rel)) {
                compute(col);
            }
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
        compute(col);  // no worker has it yet: the sweep does not wait
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
