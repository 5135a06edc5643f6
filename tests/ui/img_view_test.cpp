#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTest>

#include "ui/display_window.h"

namespace {

// Records the region of every paint the view gets.
class PaintLog : public QObject {
public:
    QRegion painted;
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            painted += static_cast<QPaintEvent*>(event)->region();
            ++paints;
        }
        return false;
    }
};

// A burst of changes, as a run makes them: the screen refreshes at most
// once a frame, and the last change of the burst always reaches it.
TEST(ImgView, BurstOfChangesRepaintsOncePerFrameAndShowsTheLast) {
    QImage image(801, 821, QImage::Format_RGB32);
    image.fill(Qt::white);
    ui::ImgView view;
    view.setSource(&image);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QTest::qWait(50);
    PaintLog log;
    view.installEventFilter(&log);

    QElapsedTimer burst;
    burst.start();
    int changes = 0;
    for (int col = 0; col <= 800; ++col) {
        view.imageChanged(QRect(col, 0, 1, 801));
        view.imageChanged(QRect(0, 801, 801, 20));
        ++changes;
        QCoreApplication::processEvents();
    }
    const qint64 ms = burst.elapsed();
    QTest::qWait(3 * ui::ImgView::kFrameMs);

    EXPECT_TRUE(log.painted.contains(QRect(800, 0, 1, 801)));
    EXPECT_TRUE(log.painted.contains(QRect(0, 801, 801, 20)));
    // One refresh at the start of the burst, one a frame, one at its end.
    EXPECT_LE(log.paints, 2 + ms / ui::ImgView::kFrameMs + 1)
        << changes << " changes in " << ms << " ms";
}


// The pointer on a device pixel reads the picture pixel painted there,
// at every scale; positions arrive in the surface's logical pixels.
TEST(ImgView, PointerTakesThePicturePixelUnderIt) {
    const struct {
        qreal scale;
        int device;  // device pixel the pointer is on
        int picture;
    } rows[] = {
        {1.0, 0, 0},       {1.0, 600, 600},    {1.0, 800, 800},
        {2.0, 1200, 600},  {2.0, 1201, 600},   {2.0, 1202, 601},   {2.0, 1, 0},
        {1.5, 900, 600},   {1.5, 901, 601},    {1.5, 902, 601},    {1.5, 903, 602},
        {1.25, 750, 600},  {1.25, 751, 601},   {1.25, 752, 602},   {1.25, 1, 1},
        {1.25, 0, 0},      {2.0, -1, -1},
    };
    for (const auto& r : rows) {
        // Painted under a device pixel: the picture pixel under its centre.
        const qreal logical = r.device / r.scale;
        const QPointF cell = ui::pictureCell(QPointF(logical, logical), r.scale);
        EXPECT_EQ(cell, QPointF(r.picture, r.picture)) << r.scale << " at " << r.device;
    }
}

}  // namespace
