#pragma once

namespace core {

inline constexpr int kPicSide = 801;        // pixels per side of the picture
inline constexpr int kPicHalf = 400;        // index of the centre column and row
inline constexpr int kSurfaceHeight = 821;  // picture plus the 20-row strip

// Centre and half-width of a view, in plane units. The square runs from
// xc - s to xc + s and from yc - s to yc + s; a negative s mirrors it.
struct View {
    double xc = 0.0;
    double yc = 0.0;
    double s = 2.0;
};

// Pixel form of the mapping. The integer difference is converted exactly,
// then multiplied by s, divided by 400 and added to the centre, in that
// order: grouping it differently changes the last bits of the counts.
inline double pixelX(int col, const View& v) {
    return v.xc + (static_cast<double>(col - kPicHalf) * v.s) / 400.0;
}
inline double pixelY(int row, const View& v) {
    return v.yc + (static_cast<double>(kPicHalf - row) * v.s) / 400.0;
}

// Pointer form: the unrounded pointer position in pixels, with the
// differences formed in double.
inline double pointerX(double px, const View& v) {
    return v.xc + ((px - 400.0) * v.s) / 400.0;
}
inline double pointerY(double py, const View& v) {
    return v.yc + ((400.0 - py) * v.s) / 400.0;
}

}  // namespace core
