#include "picture/handlers.h"

#include <cmath>

#include "archive/picture_files.h"
#include "core/colour.h"
#include "core/esccount.h"
#include "core/palette.h"
#include "core/readout.h"
#include "core/runclock.h"
#include "core/textnum.h"
#include "picture/strip.h"

namespace picture {

Handlers::Handlers(core::Platform& platform, Surface& img, Controls& controls, LibW& w,
                   compute::CountSource& counts)
    : platform_(platform),
      img_(img),
      controls_(controls),
      w_(w),
      counts_(counts),
      column_(core::kPicSide),
      colours_(core::kPicSide) {}

void Handlers::overflowReport() {
    platform_.messageBox(kOverflowReport);
}

void Handlers::startUp() {
    w_.EscLim = core::kEscLim;
    controls_.setText(Box::tCol, "0");  // the display is hidden: nothing is painted
    controls_.setText(Box::tXX, "");
    controls_.setText(Box::tYY, "");
    controls_.setText(Box::tXc, "0.0000000000000");
    controls_.setText(Box::tYc, "0.0000000000000");
    controls_.setText(Box::tSc, "2.0000000000000");
    controls_.setText(Box::tRep, "256");
    w_.CntMap.clear();
    core::ReadColor(platform_.palettePath(), w_.ColTbl);
    const std::string pictures = platform_.pictureFolder();
    archive::ensurePictureFolder(pictures);
    archive::removeStaleTemporaries(pictures);
}

std::optional<Handlers::RunInputs> Handlers::readRunInputs() {
    // Every number is read before anything changes, so a text that does not
    // fit leaves the program as it was.
    const core::Outcome<int32_t> rep = core::textToInt32(controls_.text(Box::tRep));
    const core::Outcome<int32_t> mode = core::textToInt32(controls_.text(Box::tCol));
    RunInputs in;
    in.xc = controls_.text(Box::tXc);
    in.yc = controls_.text(Box::tYc);
    in.sc = controls_.text(Box::tSc);
    const core::Outcome<double> x = core::textToNumber(in.xc);
    const core::Outcome<double> y = core::textToNumber(in.yc);
    const core::Outcome<double> s = core::textToNumber(in.sc);
    if (!rep.ok() || !mode.ok() || !x.ok() || !y.ok() || !s.ok()) {
        overflowReport();
        return std::nullopt;
    }
    in.rep = rep.value;
    in.mode = mode.value;
    in.view = core::View{x.value, y.value, s.value};
    return in;
}

void Handlers::paintColumn(int col, const int32_t* countsByRow, int32_t rep, int32_t mode,
                           int firstRow) {
    for (int row = firstRow; row < core::kPicSide; ++row) {
        const int32_t count = countsByRow[row];
        w_.CntMap.set(col, row, count);
        colours_[static_cast<size_t>(row)] = core::ColorOf(count, rep, mode, w_.ColTbl);
    }
    img_.setColumn(col, colours_.data(), firstRow);
}

void Handlers::saveAndReload() {
    archive::SaveBmp(platform_, img_.image(), w_.files);
    archive::LoadBmp(platform_, w_.files);
}

void Handlers::startClicked() {
    const std::optional<RunInputs> in = readRunInputs();
    if (!in) {
        return;
    }

    controls_.setStartEnabled(false);
    controls_.setRepLocked(true);
    w_.PicXc = in->xc;
    w_.PicYc = in->yc;
    w_.PicSc = in->sc;
    controls_.showDisplay();

    const float start = platform_.secondsSinceMidnight();
    counts_.begin(in->view, w_.EscLim, in->rep);
    for (int col = 0; col < core::kPicSide; ++col) {
        // A column may take seconds. Events handled while it is computed
        // meet the same state as at the end of the column before, and a
        // close acts within a few milliseconds.
        platform_.processEventsUntil([&] { return counts_.waitReady(col, kEventSlice); });
        const int faultRow = counts_.column(col, column_.data());
        if (faultRow >= 0) {
            // The pixels before the fault in sweep order (from row 800 up)
            // are painted; then the message, and the program ends unsaved.
            paintColumn(col, column_.data(), in->rep, in->mode, faultRow + 1);
            img_.flush();
            core::reportAndEnd(platform_, core::kErrOverflow, core::kComputeFaultText);
        }
        paintColumn(col, column_.data(), in->rep, in->mode);
        w_.RunSec = core::runSeconds(start, platform_.secondsSinceMidnight());
        DispPara(platform_, img_, controls_, w_, col, &strip_);
        platform_.processEvents();
    }

    saveAndReload();
    controls_.setRepLocked(false);
    controls_.setStartEnabled(true);
    controls_.focusSize();
}

void Handlers::colourModeChanged() {
    if (!controls_.displayVisible()) {
        return;
    }
    const core::Outcome<int32_t> mode = core::textToInt32(controls_.text(Box::tCol));
    if (!mode.ok()) {
        overflowReport();
        return;
    }
    if (mode.value < 0 || mode.value > 4) {
        controls_.setText(Box::tCol, "0");  // the nested change repaints
        return;
    }
    const core::Outcome<int32_t> rep = core::textToInt32(controls_.text(Box::tRep));
    if (!rep.ok()) {
        overflowReport();
        return;
    }
    // The stored counts, never recomputed: a recolouring nested in a run
    // sees exactly the columns the run has reached.
    for (int col = 0; col < core::kPicSide; ++col) {
        for (int row = 0; row < core::kPicSide; ++row) {
            column_[static_cast<size_t>(row)] = w_.CntMap.at(col, row);
        }
        paintColumn(col, column_.data(), rep.value, mode.value);
    }
    DispPara(platform_, img_, controls_, w_, core::kPicSide - 1, &strip_);
    saveAndReload();
}

void Handlers::mouseMoved(float x, float y) {
    const core::Outcome<int16_t> mouX = core::toInt16(x);
    const core::Outcome<int16_t> mouY = core::toInt16(y);
    const core::Outcome<double> xc = core::textToNumber(w_.PicXc);
    const core::Outcome<double> yc = core::textToNumber(w_.PicYc);
    const core::Outcome<double> sc = core::textToNumber(w_.PicSc);
    if (!mouX.ok() || !mouY.ok() || !xc.ok() || !yc.ok() || !sc.ok()) {
        overflowReport();
        return;
    }
    const core::View view{xc.value, yc.value, sc.value};
    const double px = core::pointerX(x, view);
    const double py = core::pointerY(y, view);
    if (!std::isfinite(px) || !std::isfinite(py)) {
        overflowReport();
        return;
    }
    w_.MouX = mouX.value;
    w_.MouY = mouY.value;
    controls_.setText(Box::tXX, core::readoutText(px));
    controls_.setText(Box::tYY, core::readoutText(py));
}

void Handlers::clicked() {
    if (!controls_.startEnabled()) {
        return;  // a run is going
    }
    controls_.setText(Box::tXc, controls_.text(Box::tXX));
    controls_.setText(Box::tYc, controls_.text(Box::tYY));
    img_.setPicture(w_.files.PicSaved);
    // Corners in 16-bit arithmetic: they always fit for positions over the
    // surface, and the clipping takes care of the rest.
    const int mx = w_.MouX, my = w_.MouY;
    img_.boxOutline(mx - 40, my - 40, mx + 40, my + 40, 0x0000FF);
    img_.boxOutline(mx - 41, my - 41, mx + 41, my + 41, core::kBlack);
    if (const auto size = core::zoomSizeText(w_.PicSc)) {
        controls_.setText(Box::tSc, *size);
    }
}

}  // namespace picture
