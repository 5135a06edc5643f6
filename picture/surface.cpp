#include "picture/surface.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "core/face.h"
#include "core/outcome.h"

namespace picture {

QFont surfaceFont() {
    // Fontconfig knows no alias for the face name, so map it here; the
    // stand-in has the same 8 x 16 half-width cells.
    QFont::insertSubstitution(QString::fromUtf8(core::kFaceName),
                              QString::fromUtf8(core::kStandInFace));
    QFont f(QString::fromUtf8(core::kFaceName));
    f.setPixelSize(core::kFacePixels);
    f.setWeight(QFont::Normal);
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

Surface::Surface() : image_(kWidth, kHeight, QImage::Format_RGB32), font_(surfaceFont()) {
    image_.fill(Qt::white);
}

void Surface::setOnChanged(std::function<void(const QRect&)> onChanged) {
    onChanged_ = std::move(onChanged);
}

void Surface::setColumn(int col, const int32_t* coloursByRow) {
    if (static_cast<unsigned>(col) >= kWidth) {
        return;
    }
    for (int row = 0; row < core::kPicSide; ++row) {
        reinterpret_cast<QRgb*>(image_.scanLine(row))[col] = toRgb(coloursByRow[row]);
    }
    dirty_ |= QRect(col, 0, 1, core::kPicSide);
}

void Surface::fillBox(int x1, int y1, int x2, int y2, int32_t colour) {
    const QRect box = QRect(QPoint(std::min(x1, x2), std::min(y1, y2)),
                            QPoint(std::max(x1, x2), std::max(y1, y2)))
                          .intersected(image_.rect());
    if (box.isEmpty()) {
        return;
    }
    const QRgb rgb = toRgb(colour);
    for (int row = box.top(); row <= box.bottom(); ++row) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(row));
        std::fill(line + box.left(), line + box.right() + 1, rgb);
    }
    changed(box);
}

void Surface::boxOutline(int x1, int y1, int x2, int y2, int32_t colour) {
    const int left = std::min(x1, x2), right = std::max(x1, x2);
    const int top = std::min(y1, y2), bottom = std::max(y1, y2);
    fillBox(left, top, right, top, colour);
    fillBox(left, bottom, right, bottom, colour);
    fillBox(left, top, left, bottom, colour);
    fillBox(right, top, right, bottom, colour);
}

int Surface::print(const std::string& text) {
    QPainter painter(&image_);
    if (!painter.isActive()) {
        return core::kErrInvalidPicture;
    }
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font_);
    painter.setPen(Qt::black);
    // Past this many characters a text lies beyond the right edge anyway
    // (every character advances the pen), so a huge box text costs nothing.
    const qsizetype kVisibleChars = 1024;
    const QString s = QString::fromStdString(text).left(kVisibleChars);
    const QFontMetrics metrics(font_);
    const int width = metrics.horizontalAdvance(s);
    painter.drawText(QPoint(textX_, textY_ + metrics.ascent()), s);
    painter.end();
    changed(QRect(textX_, textY_, width, metrics.height()).intersected(image_.rect()));
    textX_ += width;
    return 0;
}

int Surface::setPicture(const QImage& picture) {
    if (picture.isNull()) {
        return core::kErrInvalidPicture;
    }
    if (picture.size() == image_.size()) {
        image_ = picture.convertToFormat(QImage::Format_RGB32);
    } else {
        image_.fill(Qt::white);
        QPainter painter(&image_);
        painter.drawImage(0, 0, picture);
    }
    changed(image_.rect());
    return 0;
}

void Surface::flush() {
    changed(QRect());
}

void Surface::changed(const QRect& area) {
    const QRect all = dirty_ | area;
    dirty_ = QRect();
    if (onChanged_ && !all.isEmpty()) {
        onChanged_(all);
    }
}

}  // namespace picture
