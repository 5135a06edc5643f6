#pragma once

// What the START benchmarks share: the real platform with its event rounds
// timed, and counts known in advance, so that what is left of a START is the
// work of the user-interface thread.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "compute/count_source.h"
#include "core/kernel.h"
#include "ui/qt_platform.h"

namespace bench {

using Clock = std::chrono::steady_clock;

// The real platform, with the pictures going to a scratch folder and the
// moment of every round of event processing noted.
class MarkingPlatform : public ui::QtPlatform {
public:
    explicit MarkingPlatform(std::string folder) : folder_(std::move(folder)) {}
    std::string pictureFolder() const override { return folder_ + "/Bmp"; }
    std::string palettePath() const override { return folder_ + "/Color.Ini"; }
    void processEvents() override {
        marks.push_back(Clock::now());
        QtPlatform::processEvents();
    }
    std::vector<Clock::time_point> marks;

private:
    std::string folder_;
};

// Counts computed when the run begins; each column is then a copy.
class FreeCounts : public compute::CountSource {
public:
    void begin(const core::View& view, double lim, int32_t rep) override {
        counts_.resize(801 * 801);
        core::computeColumns(view, lim, rep, 0, 801, counts_.data());
    }
    int column(int col, int32_t* out) override {
        std::copy_n(counts_.data() + static_cast<size_t>(col) * 801, 801, out);
        return -1;
    }

private:
    std::vector<int32_t> counts_;
};

// Milliseconds between successive rounds of event processing.
inline std::vector<double> intervalsMs(const std::vector<Clock::time_point>& marks) {
    std::vector<double> ms;
    for (size_t i = 1; i < marks.size(); ++i) {
        ms.push_back(std::chrono::duration<double, std::milli>(marks[i] - marks[i - 1]).count());
    }
    return ms;
}

}  // namespace bench
