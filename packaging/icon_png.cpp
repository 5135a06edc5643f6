// Writes the program's icon as a PNG file for the desktop entry: at 32 x 32
// the very image the control window shows, at other sizes the same view
// drawn with more pixels. Runs at build time under the offscreen platform.
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdio>
#include <cstdlib>

#include "ui/icons.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT.png [SIDE]\n", argv[0]);
        return 2;
    }
    const int side = argc == 3 ? std::atoi(argv[2]) : 32;
    if (side < 16 || side > 1024) {
        std::fprintf(stderr, "%s: the side must be 16 to 1024 pixels\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    // At a device pixel ratio of 1 the pixmap is the 32 x 32 source image
    // itself, pixel for pixel.
    const QImage image =
        side == 32 ? ui::appIcon().pixmap(QSize(32, 32), 1.0).toImage() : ui::appIconImage(side);
    const QString path = QString::fromLocal8Bit(argv[1]);
    if (image.size() != QSize(side, side) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
