#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>

namespace ui {

// A picture of the set, side x side pixels, drawn from escape counts: the
// same view at every size, so a larger one only shows more detail.
QImage appIconImage(int side);
// The window's icon: that picture at 32 x 32.
QIcon appIcon();

// The pointer over the picture: a white ring about 22 pixels across with
// four black ticks on the centre lines, open in the middle; hot spot at the
// centre (16, 16).
QImage ringPointerImage();
QCursor ringPointer();

}  // namespace ui
