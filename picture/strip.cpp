#include "picture/strip.h"

#include "core/numfmt.h"

namespace picture {
namespace {

constexpr int kTextTop = 804;
constexpr int kLineRow = 802;
// Where each field starts, in drawing order.
constexpr int kFieldX[] = {4, 156, 308, 460, 524, 556, 620};

std::vector<std::string> stripTexts(core::Platform& platform, const Controls& controls,
                                    const LibW& w) {
    return {
        "X=" + w.PicXc,
        "Y=" + w.PicYc,
        "S=" + w.PicSc,
        "R=" + controls.text(Box::tRep),
        "C=" + controls.text(Box::tCol),
        "T=" + core::formatAtLeastOneDigit(w.RunSec),
        "D=" + platform.dateText() + "," + platform.timeText(),
    };
}

}  // namespace

void DispPara(core::Platform& platform, Surface& img, const Controls& controls, const LibW& w,
              int32_t column, StripMemo* memo) {
    std::vector<std::string> texts = stripTexts(platform, controls, w);
    if (memo != nullptr && memo->stripWrites == img.stripWrites() && memo->texts == texts &&
        column >= memo->column) {
        if (column > memo->column) {
            img.fillBox(memo->column + 1, kLineRow, column, kLineRow, core::kBlack);
        }
        memo->column = column;
        memo->stripWrites = img.stripWrites();
        return;
    }

    int err = 0;
    auto trap = [&err](int stepErr) {
        if (stepErr != 0) {
            err = stepErr;  // the last failure is the one reported
        }
    };
    img.fillBox(0, 801, 800, 820, core::kWhite);
    for (size_t i = 0; i < texts.size(); ++i) {
        img.setTextPos(kFieldX[i], kTextTop);
        trap(img.print(texts[i]));
    }
    img.fillBox(0, kLineRow, column, kLineRow, core::kBlack);

    if (err != 0) {
        core::reportAndEnd(platform, err, kStripFaultText);
    }
    if (memo != nullptr) {
        memo->texts = std::move(texts);
        memo->column = column;
        memo->stripWrites = img.stripWrites();
    }
}

}  // namespace picture
