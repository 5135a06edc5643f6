#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "core/kernel.h"
#include "core/platform.h"
#include "picture/controls.h"
#include "picture/libw.h"
#include "picture/surface.h"

namespace picture {

// The report of a number that does not fit where it goes; the program goes
// on in the state it had before the action.
inline constexpr const char* kOverflowReport = "実行時エラー '6':\n\nオーバーフローしました。";

// Computes the counts of whole columns of a view for the render run, in
// column-major order (see core::computeColumns). A run calls begin once, then
// column for 0, 1, ..., 800 in order.
class CountSource {
public:
    virtual ~CountSource() = default;
    virtual void begin(const core::View& view, double lim, int32_t rep) = 0;
    // Counts of one column into out[0..800] (by row); the first faulting row
    // in sweep order (800 down to 0), or -1.
    virtual int column(int col, int32_t* out) = 0;
};

// The vector kernel on the calling thread, one column at a time.
class KernelCountSource : public CountSource {
public:
    void begin(const core::View& view, double lim, int32_t rep) override;
    int column(int col, int32_t* out) override;

private:
    core::View view_;
    double lim_ = 0.0;
    int32_t rep_ = 0;
};

// The event handlers of the two windows: START, the colour-mode box, and
// the pointer over the picture.
class Handlers {
public:
    Handlers(core::Platform& platform, Surface& img, Controls& controls, LibW& w,
             CountSource& counts);

    // START: computes, paints and saves a whole picture.
    void startClicked();
    // The colour-mode box changed: repaints from the stored counts and saves.
    void colourModeChanged();
    // The pointer moved over the picture (pixels, unrounded).
    void mouseMoved(float x, float y);
    // A click on the picture: the next view, and a mark on the picture.
    void clicked();

private:
    void overflowReport();
    // Paints one column's counts; col is 0 to 800.
    void paintColumn(int col, const int32_t* countsByRow, int32_t rep, int32_t mode, int rows);

    core::Platform& platform_;
    Surface& img_;
    Controls& controls_;
    LibW& w_;
    CountSource& counts_;
    std::vector<int32_t> column_;   // counts of the column being swept, by row
    std::vector<int32_t> colours_;  // its colours, by row
};

}  // namespace picture
