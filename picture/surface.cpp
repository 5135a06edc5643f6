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

void Surface::setColumn(int col, const int32_t* coloursByRow, int firstRow) {
    firstRow = std::max(firstRow, 0);
    if (static_cast<unsigned>(col) >= kWidth || firstRow >= core::kPicSide) {
        return;
    }
    // One detach check for the column, not one a pixel.
    uchar* const bits = image_.bits();
    const qsizetype stride = image_.bytesPerLine();
    for (int row = firstRow; row < core::kPicSide; ++row) {
        reinterpret_cast<QRgb*>(bits + row * stride)[col] = toRgb(coloursByRow[row]);
    }
    dirty_ |= QRect(col, firstRow, 1, core::kPicSide - firstRow);
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
    // Past this many characters a text lies beyond the right edge anyway
    // (every character advances the pen), so a huge box text costs nothing.
    const qsizetype kVisibleChars = 1024;
    const QString s = QString::fromStdString(text).left(kVisibleChars);
    const Stamp& stamp = stampFor(textX_, textY_, s);
    if (!stamp.exact) {
        return printDirect(s);
    }
    for (const Stamp::Run& run : stamp.runs) {
        QRgb* line = reinterpret_cast<QRgb*>(image_.scanLine(run.row));
        std::copy(run.colours.begin(), run.colours.end(), line + run.left);
    }
    changed(stamp.changed);
    textX_ += stamp.advance;
    return 0;
}

int Surface::printDirect(const QString& s) {
    QPainter painter(&image_);
    if (!painter.isActive()) {
        return core::kErrInvalidPicture;
    }
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(font_);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font_);
    const int width = metrics.horizontalAdvance(s);
    painter.drawText(QPoint(textX_, textY_ + metrics.ascent()), s);
    painter.end();
    changed(QRect(textX_, textY_, width, metrics.height()).intersected(image_.rect()));
    textX_ += width;
    return 0;
}

const Surface::Stamp& Surface::stampFor(int x, int y, const QString& text) {
    std::string key = std::to_string(x) + ',' + std::to_string(y) + ',' + text.toStdString();
    if (const auto found = stamps_.find(key); found != stamps_.end()) {
        return found->second;
    }
    if (stamps_.size() >= 64) {
        stamps_.clear();  // the clock's fields make a few new texts a second
    }
    Stamp& stamp = stamps_[std::move(key)];

    // Print the text as printDirect would, once on white and once on black,
    // into images of the area around the text (in the surface's format). A
    // pixel that keeps its background in both is untouched; one that comes
    // out the same in both is set to that colour whatever lies under it. Any
    // other pixel depends on the background, and the text is then always
    // drawn directly; so is a text whose pixels reach the edge of the area
    // where that is not the surface's edge, since some may lie beyond it.
    const QFontMetrics metrics(font_);
    const int advance = metrics.horizontalAdvance(text);
    const int margin = 2 * metrics.height();
    const QRect area = QRect(x - margin, y - margin, std::max(advance, 0) + 2 * margin,
                             metrics.height() + 2 * margin)
                           .intersected(image_.rect());
    if (area.isEmpty()) {
        stamp.advance = advance;
        stamp.exact = true;  // nothing of the text lands on the surface
        return stamp;
    }
    QImage onWhite(area.size(), QImage::Format_RGB32);
    QImage onBlack(area.size(), QImage::Format_RGB32);
    onWhite.fill(Qt::white);
    onBlack.fill(Qt::black);
    for (QImage* scratch : {&onWhite, &onBlack}) {
        QPainter painter(scratch);
        if (!painter.isActive()) {
            return stamp;  // not exact: printDirect reports the failure
        }
        painter.translate(-area.topLeft());
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font_);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(x, y + metrics.ascent()), text);
    }
    const QRgb white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
    for (int row = 0; row < area.height(); ++row) {
        const QRgb* w = reinterpret_cast<const QRgb*>(onWhite.constScanLine(row));
        const QRgb* b = reinterpret_cast<const QRgb*>(onBlack.constScanLine(row));
        const int surfaceRow = area.top() + row;
        for (int col = 0; col < area.width(); ++col) {
            if (w[col] == white && b[col] == black) {
                continue;
            }
            const int surfaceCol = area.left() + col;
            const bool cutShort = (row == 0 && surfaceRow > 0) ||
                                  (row == area.height() - 1 && surfaceRow < kHeight - 1) ||
                                  (col == 0 && surfaceCol > 0) ||
                                  (col == area.width() - 1 && surfaceCol < kWidth - 1);
            if (w[col] != b[col] || cutShort) {
                stamp.runs.clear();
                return stamp;
            }
            Stamp::Run* run = stamp.runs.empty() ? nullptr : &stamp.runs.back();
            if (run == nullptr || run->row != surfaceRow ||
                run->left + static_cast<int>(run->colours.size()) != surfaceCol) {
                run = &stamp.runs.emplace_back(Stamp::Run{surfaceRow, surfaceCol, {}});
            }
            run->colours.push_back(w[col]);
        }
    }
    stamp.advance = advance;
    stamp.changed = QRect(x, y, advance, metrics.height()).intersected(image_.rect());
    stamp.exact = true;
    return stamp;
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
    if (area.bottom() >= core::kPicSide) {
        ++stripWrites_;
    }
    // Reported apart: the gathered pixels are usually a column, the area
    // the strip, and their union would be the whole surface.
    const QRect gathered = dirty_;
    dirty_ = QRect();
    if (!onChanged_) {
        return;
    }
    if (!gathered.isEmpty()) {
        onChanged_(gathered);
    }
    if (!area.isEmpty()) {
        onChanged_(area);
    }
}

}  // namespace picture
