#pragma once

#include <QCursor>
#include <QIcon>
#include <QImage>

namespace ui {

// A 32 x 32 picture of the set, drawn from escape counts.
QIcon appIcon();

// The pointer over the picture: a white ring about 22 pixels across with
// four black ticks on the centre lines, open in the middle; hot spot at the
// centre (16, 16).
QImage ringPointerImage();
QCursor ringPointer();

}  // namespace ui
