#include "picture/strip.h"

#include "core/numfmt.h"

namespace picture {

void DispPara(core::Platform& platform, Surface& img, const Controls& controls, const LibW& w,
              int32_t column) {
    int err = 0;
    auto trap = [&err](int stepErr) {
        if (stepErr != 0) {
            err = stepErr;  // the last failure is the one reported
        }
    };

    img.fillBox(0, 801, 800, 820, core::kWhite);
    const int textTop = 804;
    const struct {
        int x;
        std::string text;
    } fields[] = {
        {4, "X=" + w.PicXc},
        {156, "Y=" + w.PicYc},
        {308, "S=" + w.PicSc},
        {460, "R=" + controls.text(Box::tRep)},
        {524, "C=" + controls.text(Box::tCol)},
        {556, "T=" + core::formatAtLeastOneDigit(w.RunSec)},
        {620, "D=" + platform.dateText() + "," + platform.timeText()},
    };
    for (const auto& field : fields) {
        img.setTextPos(field.x, textTop);
        trap(img.print(field.text));
    }
    img.fillBox(0, 802, column, 802, core::kBlack);

    if (err != 0) {
        core::reportAndEnd(platform, err, kStripFaultText);
    }
}

}  // namespace picture
