#pragma once

#include <QImage>

namespace testsupport {

// An 801 x 821 picture whose every pixel depends on its place and the seed,
// so pictures of different seeds, and a torn file, never compare equal.
inline QImage seededPicture(int seed) {
    QImage image(801, 821, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = qRgb((x + seed) & 0xFF, (y + 7 * seed) & 0xFF, (x * y + 31 * seed) & 0xFF);
        }
    }
    return image;
}

}  // namespace testsupport
