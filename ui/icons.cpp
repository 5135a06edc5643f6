#include "ui/icons.h"

#include <QPainter>
#include <QPixmap>
#include <cmath>

#include "core/esccount.h"

namespace ui {

QImage appIconImage(int side) {
    const int rep = 48;
    QImage image(side, side, QImage::Format_ARGB32);
    for (int row = 0; row < side; ++row) {
        for (int col = 0; col < side; ++col) {
            // The view from -2.2 to 0.8 across, -1.5 to 1.5 down.
            const double cx = -2.2 + 3.0 * (col + 0.5) / side;
            const double cy = 1.5 - 3.0 * (row + 0.5) / side;
            const int32_t n = core::escCount(cx, cy, core::kEscLim, rep).count;
            QRgb colour;
            if (n > rep) {
                colour = qRgb(0, 0, 0);
            } else {
                const int t = std::min(255, n * 255 / 12);
                colour = qRgb(t / 3, t / 2 + 40, 120 + t / 2);
            }
            image.setPixel(col, row, colour);
        }
    }
    return image;
}

QIcon appIcon() {
    return QIcon(QPixmap::fromImage(appIconImage(32)));
}

QImage ringPointerImage() {
    const int side = 32;
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const double centre = 15.5;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const double d = std::hypot(x - centre, y - centre);
            if (d >= 10.0 && d < 12.0) {
                image.setPixel(x, y, qRgb(255, 255, 255));
            }
        }
    }
    // Ticks two pixels wide on the centre lines, from the edge to just
    // inside the ring: rows (or columns) 1-8 and 23-30.
    for (int i = 1; i <= 30; ++i) {
        if (i > 8 && i < 23) {
            continue;
        }
        for (int w = 15; w <= 16; ++w) {
            image.setPixel(w, i, qRgb(0, 0, 0));
            image.setPixel(i, w, qRgb(0, 0, 0));
        }
    }
    return image;
}

QCursor ringPointer() {
    return QCursor(QPixmap::fromImage(ringPointerImage()), 16, 16);
}

}  // namespace ui
