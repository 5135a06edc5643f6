#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/view.h"

namespace picture {

// The picture surface: 801 x 821 pixels, rows 0-800 the picture and rows
// 801-820 the parameter strip. Every drawing goes into the persistent image,
// from which the window repaints itself and which the picture files save.
// Colours are 0x00BBGGRR values; drawing outside the surface is clipped.
class Surface {
public:
    static constexpr int kWidth = core::kPicSide;
    static constexpr int kHeight = core::kSurfaceHeight;

    Surface();

    // Called with each area that changed, so a window can repaint it. Single
    // pixels and columns are gathered and reported with the next other
    // drawing or flush, as an area of their own: a column and the strip are
    // two small areas, not the whole surface between them.
    void setOnChanged(std::function<void(const QRect&)> onChanged);

    void setPixel(int col, int row, int32_t colour) {
        if (static_cast<unsigned>(col) < kWidth && static_cast<unsigned>(row) < kHeight) {
            reinterpret_cast<QRgb*>(image_.scanLine(row))[col] = toRgb(colour);
            dirty_ |= QRect(col, row, 1, 1);
            if (row >= core::kPicSide) {
                ++stripWrites_;
            }
        }
    }
    // Sets rows firstRow..800 of a column of the picture from colours
    // indexed by row, without per-pixel bookkeeping.
    void setColumn(int col, const int32_t* coloursByRow, int firstRow = 0);

    // Every pixel of the rectangle between the corners, both included.
    void fillBox(int x1, int y1, int x2, int y2, int32_t colour);
    // The one-pixel border of that rectangle, both corners included.
    void boxOutline(int x1, int y1, int x2, int y2, int32_t colour);

    void setTextPos(int x, int y) {
        textX_ = x;
        textY_ = y;
    }
    // Draws the text from the text position in the surface's font and text
    // colour, without antialiasing so the pixels are reproducible; moves the
    // text position to the end of the text. Returns 0 or an error number.
    int print(const std::string& text);

    // Replaces the persistent image; a picture of another size is drawn at
    // (0, 0) on white. Returns 0 or an error number.
    int setPicture(const QImage& picture);

    const QImage& image() const { return image_; }
    void flush();

    // Counts the drawings that may have changed the strip's rows: equal
    // counts before and after mean the strip is as it was.
    uint64_t stripWrites() const { return stripWrites_; }

    static QRgb toRgb(int32_t colour) {
        return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    }

private:
    // The pixels one print of a text at one position sets, and the colour
    // each gets, whatever lies under them: drawing the text is then a copy
    // of these runs. Valid only for texts whose pixels do not depend on the
    // background (aliased glyphs in one opaque colour).
    struct Stamp {
        struct Run {
            int row, left;              // surface pixels
            std::vector<QRgb> colours;  // from left rightwards
        };
        std::vector<Run> runs;
        QRect changed;       // the area reported as changed, as a direct print reports it
        int advance = 0;     // pixels the text position moves
        bool exact = false;  // false: the text must be drawn directly
    };

    void changed(const QRect& area);
    const Stamp& stampFor(int x, int y, const QString& text);
    int printDirect(const QString& text);

    QImage image_;
    QFont font_;
    QRect dirty_;
    // Stamps of the texts printed lately, by position and text. The strip
    // prints the same texts on every column; only the clock's fields change.
    std::unordered_map<std::string, Stamp> stamps_;
    int textX_ = 0;
    int textY_ = 0;
    uint64_t stripWrites_ = 0;
    std::function<void(const QRect&)> onChanged_;
};

// The surface's font: the control face at 12 pt as 16 pixels, aliased.
QFont surfaceFont();

}  // namespace picture
