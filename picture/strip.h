#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/platform.h"
#include "picture/controls.h"
#include "picture/program_state.h"
#include "picture/surface.h"

namespace picture {

inline constexpr const char* kStripFaultText = "PARA 表示異常";

// The strip as DispPara last drew it on one surface, so that the next
// drawing can leave alone what it would only draw again.
struct StripMemo {
    std::vector<std::string> texts;  // the fields, in drawing order
    int32_t column = -1;             // the progress line's last column
    uint64_t stripWrites = 0;        // the surface's count after that drawing
};

// Redraws the parameter strip (rows 801-820): the parameters of the picture
// on screen, the current repeat-count and colour-mode texts, the last run's
// seconds, the date and time of this drawing, and the progress line up to
// column. A failing step does not stop the later ones; after the last, a
// failure is reported and the program ends. With a memo of the last
// drawing on this surface, a strip whose texts are unchanged and which
// nothing else has drawn on since only has its progress line lengthened:
// the pixels are the same as those of a whole redrawing.
void DispPara(core::Platform& platform, Surface& img, const Controls& controls, const LibW& w,
              int32_t column, StripMemo* memo = nullptr);

}  // namespace picture
