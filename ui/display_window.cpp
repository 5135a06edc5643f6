#include "ui/display_window.h"

#include <QMouseEvent>
#include <QPainter>
#include <cmath>

#include "core/view.h"
#include "ui/control_window.h"
#include "ui/icons.h"

namespace ui {

ImgView::ImgView(QWidget* parent) : QWidget(parent) {
    setFixedSize(core::kPicSide, core::kSurfaceHeight);
    setMouseTracking(true);
    setCursor(ringPointer());
    setAttribute(Qt::WA_OpaquePaintEvent);
    refreshTimer_.setSingleShot(true);
    connect(&refreshTimer_, &QTimer::timeout, this, &ImgView::refresh);
}

void ImgView::imageChanged(const QRect& area) {
    pending_ += area;
    const qint64 sinceRefresh = lastRefresh_.isValid() ? lastRefresh_.elapsed() : kFrameMs;
    if (sinceRefresh >= kFrameMs) {
        refresh();
    } else if (!refreshTimer_.isActive()) {
        refreshTimer_.start(static_cast<int>(kFrameMs - sinceRefresh));
    }
}

void ImgView::refresh() {
    refreshTimer_.stop();
    lastRefresh_.start();
    if (!pending_.isEmpty()) {
        update(pending_);
        pending_ = QRegion();
    }
}

void ImgView::setSource(const QImage* image) {
    source_ = image;
    update();
}

void ImgView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // Each changed rectangle on its own: their bounding rectangle may be the
    // whole surface when only a column and the strip changed.
    for (const QRect& r : event->region()) {
        if (source_ != nullptr) {
            // One image pixel to one device pixel, whatever the screen's scale.
            painter.drawImage(r, *source_, r);
        } else {
            painter.fillRect(r, Qt::white);
        }
    }
}

QPointF pictureCell(const QPointF& logical, qreal deviceRatio) {
    // A device pixel's centre lies half a device pixel past its corner; at
    // a scale of 1 the corner is already the picture pixel.
    const qreal half = deviceRatio > 0 ? 0.5 / deviceRatio : 0.5;
    return {std::floor(logical.x() + half), std::floor(logical.y() + half)};
}

void ImgView::mouseMoveEvent(QMouseEvent* event) {
    // The window's own position is unrounded; the widget's may be rounded
    // to whole logical pixels, one device pixel off on a scaled screen.
    const QPointF local = event->scenePosition() - QPointF(mapTo(window(), QPoint(0, 0)));
    const QPointF cell = pictureCell(local, devicePixelRatioF());
    emit mouseMoved(static_cast<float>(cell.x()), static_cast<float>(cell.y()));
}

void ImgView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    // A click on the picture takes the keyboard away from the control
    // window's boxes, with or without a window manager to do it.
    if (!window()->isActiveWindow()) {
        window()->activateWindow();
    }
}

void ImgView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click) {
        emit clicked();
    }
}

Disp::Disp(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    // Showing the picture leaves the keyboard where it is; a click on it
    // makes it the active window, which drops every key.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(QStringLiteral("Form1"));
    setFont(controlFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setFixedSize(core::kPicSide, core::kSurfaceHeight);
    move(0, 0);
    img_ = new ImgView(this);
    img_->move(0, 0);
}

}  // namespace ui
