#pragma once

#include <cstdint>
#include <string>

#include "archive/picture_files.h"
#include "core/colour.h"
#include "core/countgrid.h"

namespace picture {

// State shared by the handlers for the whole life of the program.
struct LibW {
    core::CountGrid CntMap;   // counts of the picture on screen
    core::ColTable ColTbl{};  // palette of colour mode 0
    double EscLim = 0.0;      // set to 4.0 at start-up
    // Centre X, centre Y and size texts of the picture on screen, as the
    // last START captured them; empty until the first run.
    std::string PicXc, PicYc, PicSc;
    int32_t RunSec = 0;           // whole seconds the last run took
    archive::PictureFiles files;  // PicName and PicSaved
    int16_t MouX = 0, MouY = 0;   // pixel under the last pointer position
};

}  // namespace picture
