#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compute/count_source.h"
#include "core/platform.h"
#include "core/view.h"
#include "picture/controls.h"
#include "picture/program_state.h"
#include "picture/surface.h"

namespace picture {

// The report of a number that does not fit where it goes; the program goes
// on in the state it had before the action.
inline constexpr const char* kOverflowReport = "実行時エラー '6':\n\nオーバーフローしました。";

// The event handlers of the two windows: start-up, START, the colour-mode
// box, and the pointer over the picture.
class Handlers {
public:
    Handlers(core::Platform& platform, Surface& img, Controls& controls, LibW& w,
             compute::CountSource& counts);

    // Start-up of the control window: the default texts, an empty count
    // grid, the palette and the picture folder. Each step that fails is
    // skipped; nothing is reported.
    void startUp();
    // START: computes, paints and saves a whole picture.
    void startClicked();
    // The colour-mode box changed: repaints from the stored counts and saves.
    void colourModeChanged();
    // The pointer moved over the picture (pixels, unrounded).
    void mouseMoved(float x, float y);
    // A click on the picture: the next view, and a mark on the picture.
    void clicked();

private:
    // What START reads from the boxes, every number already checked.
    struct RunInputs {
        int32_t rep = 0;
        int32_t mode = 0;
        std::string xc, yc, sc;  // the texts, kept for the strip and the pointer
        core::View view;
    };

    // Reads every number of a run, or reports the overflow and gives nothing.
    std::optional<RunInputs> readRunInputs();
    // Stores rows firstRow..800 of one column's counts in the count grid and
    // paints them in rep and mode; col is 0 to 800.
    void paintColumn(int col, const int32_t* countsByRow, int32_t rep, int32_t mode,
                     int firstRow = 0);
    // Writes the surface as the next numbered picture and reads it back as
    // the picture the marks are drawn over.
    void saveAndReload();
    void overflowReport();

    core::Platform& platform_;
    Surface& img_;
    Controls& controls_;
    LibW& w_;
    compute::CountSource& counts_;
    std::vector<int32_t> column_;   // counts of the column being swept, by row
    std::vector<int32_t> colours_;  // its colours, by row
};

}  // namespace picture
