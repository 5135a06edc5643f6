// Writes the program's icon, the very image the control window shows, as a
// PNG file for the desktop entry. Runs at build time under the offscreen
// platform.
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QString>
#include <cstdio>

#include "ui/icons.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QGuiApplication application(argc, argv);
    // At a device pixel ratio of 1 the pixmap is the 32 x 32 source image
    // itself, pixel for pixel.
    const QImage image = ui::appIcon().pixmap(QSize(32, 32), 1.0).toImage();
    const QString path = QString::fromLocal8Bit(argv[1]);
    if (image.size() != QSize(32, 32) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
