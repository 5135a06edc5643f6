#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "compute/count_source.h"
#include "core/view.h"

namespace compute {

// Counts for the render run computed ahead of the sweep by a pool of worker
// threads, one per core, created once. Workers take blocks of a few columns
// in sweep order (core::columnsPerCall) into a staging grid; the sweep takes
// each column when it is ready, or computes it itself when no worker has
// taken it yet. Nothing outside can tell it from computing each column when
// the sweep reaches it: the counts are the same, and the user-interface
// thread alone writes the count grid.
class ThreadedCountSource : public CountSource {
public:
    explicit ThreadedCountSource(unsigned workers = std::thread::hardware_concurrency());
    ~ThreadedCountSource() override;
    ThreadedCountSource(const ThreadedCountSource&) = delete;
    ThreadedCountSource& operator=(const ThreadedCountSource&) = delete;

    void begin(const core::View& view, double lim, int32_t rep) override;
    int column(int col, int32_t* out) override;
    bool waitReady(int col, std::chrono::milliseconds timeout) override;

private:
    enum : int { kFree = 0, kClaimed = 1, kDone = 2 };

    void workerLoop();
    bool takeBlock(int& col0, int& ncols);
    // Computes claimed columns col0 .. col0 + ncols - 1 and marks them done.
    void compute(int col0, int ncols);
    void finish(int col, int faultRow);
    // Stops handing out columns and waits until no worker is computing.
    void cancel(std::unique_lock<std::mutex>& lock);

    // Run-level handshake only; the per-column path uses the atomics below.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    // Finished columns, for a sweep waiting with a time limit.
    std::mutex readyMutex_;
    std::condition_variable ready_;
    uint64_t generation_ = 0;
    int busy_ = 0;
    bool stop_ = false;

    core::View view_;
    double lim_ = 0.0;
    int32_t rep_ = 0;

    std::atomic<int> next_{core::kPicSide};  // first column of the next block
    std::array<std::atomic<int>, core::kPicSide> state_{};
    std::array<int, core::kPicSide> faultRow_{};
    std::vector<int32_t> staging_;  // column-major, 801 counts a column
    std::vector<std::thread> threads_;
};

}  // namespace compute
