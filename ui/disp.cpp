#include "ui/disp.h"

#include <QMouseEvent>
#include <QPainter>

#include "core/view.h"
#include "ui/icons.h"
#include "ui/kest.h"

namespace ui {

ImgView::ImgView(QWidget* parent) : QWidget(parent) {
    setFixedSize(core::kPicSide, core::kSurfaceHeight);
    setMouseTracking(true);
    setCursor(ringPointer());
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImgView::setSource(const QImage* image) {
    source_ = image;
    update();
}

void ImgView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (source_ != nullptr) {
        // One image pixel to one device pixel, whatever the screen's scale.
        painter.drawImage(event->rect(), *source_, event->rect());
    } else {
        painter.fillRect(event->rect(), Qt::white);
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

Disp::Disp(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
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
