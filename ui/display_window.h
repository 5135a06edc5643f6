#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QRegion>
#include <QTimer>
#include <QWidget>

namespace ui {

// The picture pixel that holds a pointer at `logical` (the surface's own
// logical pixels) on a screen of deviceRatio device pixels to one: the one
// painted under the device pixel the pointer is on.
QPointF pictureCell(const QPointF& logical, qreal deviceRatio);

// The picture surface on screen: paints itself from the persistent image it
// is given and reports pointer moves and clicks in pixels.
class ImgView : public QWidget {
    Q_OBJECT
public:
    explicit ImgView(QWidget* parent = nullptr);

    // The image to show; it must outlive the view.
    void setSource(const QImage* image);

    // An area of the image changed. The screen is brought up to date at
    // most once a display frame: a run changes a column and the strip
    // hundreds of times a second, and each repaint goes through the
    // display server. The last change always reaches the screen.
    void imageChanged(const QRect& area);

    static constexpr int kFrameMs = 16;  // about 60 refreshes a second

signals:
    void mouseMoved(float x, float y);  // the picture pixel under the pointer
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void refresh();

    const QImage* source_ = nullptr;
    bool pressed_ = false;
    QRegion pending_;  // changed since the last refresh
    QElapsedTimer lastRefresh_;
    QTimer refreshTimer_;  // brings the last changes of a burst to the screen
};

// The display window: no frame or title bar, at the top-left corner of the
// screen, created hidden, with the 801 x 821 surface as its only content.
class Disp : public QWidget {
    Q_OBJECT
public:
    explicit Disp(QWidget* parent = nullptr);

    ImgView* img() const { return img_; }

private:
    ImgView* img_;  // the picture and its strip, filling the window
};

}  // namespace ui
