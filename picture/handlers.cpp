#include "picture/handlers.h"

#include <cmath>

#include "archive/picture_files.h"
#include "core/colour.h"
#include "core/esccount.h"
#include "core/readout.h"
#include "core/textnum.h"
#include "picture/strip.h"

namespace picture {

void KernelCountSource::begin(const core::View& view, double lim, int32_t rep) {
    view_ = view;
    lim_ = lim;
    rep_ = rep;
}

int KernelCountSource::column(int col, int32_t* out) {
    const core::SweepFault fault = core::computeColumns(view_, lim_, rep_, col, 1, out);
    return fault.any() ? fault.row : -1;
}

Handlers::Handlers(core::Platform& platform, Surface& img, Controls& controls, LibW& w,
                   CountSource& counts)
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

void Handlers::paintColumn(int col, const int32_t* countsByRow, int32_t rep, int32_t mode,
                           int rows) {
    // rows: how many rows from the bottom (row 800 upwards) to paint.
    for (int row = core::kPicSide - 1; row >= core::kPicSide - rows; --row) {
        w_.CntMap.set(col, row, countsByRow[row]);
        img_.setPixel(col, row, core::ColorOf(countsByRow[row], rep, mode, w_.ColTbl));
    }
}

void Handlers::startClicked() {
    // Every number is read before anything changes, so a text that does not
    // fit leaves the program as it was.
    const core::Outcome<int32_t> rep = core::textToInt32(controls_.text(Box::tRep));
    const core::Outcome<int32_t> mode = core::textToInt32(controls_.text(Box::tCol));
    const std::string xc = controls_.text(Box::tXc);
    const std::string yc = controls_.text(Box::tYc);
    const std::string sc = controls_.text(Box::tSc);
    const core::Outcome<double> x = core::textToNumber(xc);
    const core::Outcome<double> y = core::textToNumber(yc);
    const core::Outcome<double> s = core::textToNumber(sc);
    if (!rep.ok() || !mode.ok() || !x.ok() || !y.ok() || !s.ok()) {
        overflowReport();
        return;
    }

    controls_.setStartEnabled(false);
    controls_.setRepLocked(true);
    w_.PicXc = xc;
    w_.PicYc = yc;
    w_.PicSc = sc;
    controls_.showDisplay();

    const core::View view{x.value, y.value, s.value};
    const float start = platform_.secondsSinceMidnight();
    counts_.begin(view, w_.EscLim, rep.value);
    for (int col = 0; col < core::kPicSide; ++col) {
        const int faultRow = counts_.column(col, column_.data());
        if (faultRow >= 0) {
            // The pixels before the fault in sweep order are painted; then
            // the message, and the program ends without saving.
            paintColumn(col, column_.data(), rep.value, mode.value, core::kPicSide - 1 - faultRow);
            img_.flush();
            core::reportAndEnd(platform_, core::kErrOverflow, core::kComputeFaultText);
        }
        for (int row = 0; row < core::kPicSide; ++row) {
            w_.CntMap.set(col, row, column_[static_cast<size_t>(row)]);
            colours_[static_cast<size_t>(row)] =
                core::ColorOf(column_[static_cast<size_t>(row)], rep.value, mode.value, w_.ColTbl);
        }
        img_.setColumn(col, colours_.data());

        const float now = platform_.secondsSinceMidnight();
        const float elapsed = now - start;
        int32_t runSec = core::toInt32(elapsed).value;
        if (runSec < 0) {
            runSec += 86400;  // the run crossed midnight
        }
        w_.RunSec = runSec;
        DispPara(platform_, img_, controls_, w_, col);
        platform_.processEvents();
    }

    archive::SaveBmp(platform_, img_.image(), w_.files);
    archive::LoadBmp(platform_, w_.files);
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
    for (int col = 0; col < core::kPicSide; ++col) {
        for (int row = 0; row < core::kPicSide; ++row) {
            colours_[static_cast<size_t>(row)] =
                core::ColorOf(w_.CntMap.at(col, row), rep.value, mode.value, w_.ColTbl);
        }
        img_.setColumn(col, colours_.data());
    }
    DispPara(platform_, img_, controls_, w_, core::kPicSide - 1);
    archive::SaveBmp(platform_, img_.image(), w_.files);
    archive::LoadBmp(platform_, w_.files);
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
