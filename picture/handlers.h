#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compute/count_source.h"
#include "core/platform.h"
#include "core/view.h"
#include "picture/controls.h"
#include "picture/program_state.h"
#include "picture/strip.h"
#include "picture/surface.h"

namespace picture {

// The report of a number that does not fit where it goes; the program goes
// on in the state it had before the action.
inline constexpr const char* kOverflowReport = "実行時エラー '6':\n\nオーバーフローしました。";

// The event handlers of the two windows: start-up, START, the colour-mode
// box, and the pointer over the picture.
//
// A run (startClicked) handles events nested in it: after each column, and
// while it waits for the next one to be computed. Either way the handlers
// that run then see the count grid and the surface as they are at the end
// of the last column painted. Which of them may run then, and what guards
// each:
//   - mouseMoved: reads the run's own view (PicXc, PicYc, PicSc, already
//     set); nothing to guard.
//   - clicked: does nothing while START is disabled.
//   - colourModeChanged: repaints from the count grid, which holds the
//     columns reached; the run goes on with its own mode afterwards.
//   - startClicked: cannot run, START is disabled.
//   - a close of the control window: ends the program there, unsaved.
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

    // How long a run waits for a column before it handles events again.
    static constexpr std::chrono::milliseconds kEventSlice{4};

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
    StripMemo strip_;               // the strip as last drawn on img_
};

}  // namespace picture
