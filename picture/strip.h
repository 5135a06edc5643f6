#pragma once

#include <cstdint>

#include "core/platform.h"
#include "picture/controls.h"
#include "picture/program_state.h"
#include "picture/surface.h"

namespace picture {

inline constexpr const char* kStripFaultText = "PARA 表示異常";

// Redraws the parameter strip (rows 801-820): the parameters of the picture
// on screen, the current repeat-count and colour-mode texts, the last run's
// seconds, the date and time of this drawing, and the progress line up to
// column. A failing step does not stop the later ones; after the last, a
// failure is reported and the program ends.
void DispPara(core::Platform& platform, Surface& img, const Controls& controls, const LibW& w,
              int32_t column);

}  // namespace picture
