#include "ui/display_window.h"

#include <QMouseEvent>
#include <QPainter>

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

void ImgView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = event->position();
    emit mouseMoved(static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void ImgView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
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
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    // The picture takes no keys. Showing it, or clicking it, leaves the
    // keyboard with the control window, where the user types.
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
