#include "colour.h"

namespace core {
namespace {

// Levels per mode: 8 greys, 256 greys, 8 pure colours, 512 colours.
int32_t levelsOf(int32_t mode) {
    switch (mode) {
        case 1:
        case 3:
            return 8;
        case 2:
            return 256;
        default:
            return 512;
    }
}

}  // namespace

int32_t ColorOf(int32_t count, int32_t rep, int32_t mode, const ColTable& colTbl) {
    if (count <= 0) {
        return kWhite;
    }
    if (count > rep) {
        return kBlack;  // the inside, and any count above the repeat count given
    }
    if (mode == 0) {
        return colTbl[count % 24];
    }

    // Here 1 <= count <= rep. Counts below rep spread over levels 0 .. N-1;
    // a count equal to rep (the last step tried) takes the top level.
    const int32_t n = levelsOf(mode);
    const int32_t level =
        count == rep ? n - 1
                     : static_cast<int32_t>((static_cast<int64_t>(count) - 1) * n / (rep - 1));

    switch (mode) {
        case 1:
            return level * 0x202020;
        case 2:
            return level * 0x010101;
        case 3:
            return (level / 4) * 0xFF0000 + ((level / 2) % 2) * 0xFF00 + (level % 2) * 255;
        default:
            return (level / 64) * 0x240000 + ((level / 8) % 8) * 0x2400 + (level % 8) * 36;
    }
}

}  // namespace core
