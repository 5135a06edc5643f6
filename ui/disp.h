#pragma once

#include <QImage>
#include <QWidget>

namespace ui {

// The picture surface on screen: paints itself from the persistent image it
// is given and reports pointer moves and clicks in pixels.
class ImgView : public QWidget {
    Q_OBJECT
public:
    explicit ImgView(QWidget* parent = nullptr);

    // The image to show; it must outlive the view.
    void setSource(const QImage* image);

signals:
    void mouseMoved(float x, float y);  // pixels, unrounded
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const QImage* source_ = nullptr;
    bool pressed_ = false;
};

// The display window: no frame or title bar, at the top-left corner of the
// screen, created hidden, with the 801 x 821 surface as its only content.
class Disp : public QWidget {
    Q_OBJECT
public:
    explicit Disp(QWidget* parent = nullptr);

    ImgView* img() const { return img_; }

private:
    ImgView* img_;
};

}  // namespace ui
