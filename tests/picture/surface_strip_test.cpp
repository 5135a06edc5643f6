#include <gtest/gtest.h>

#include <functional>

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <random>

#include "picture/strip.h"
#include "picture/surface.h"
#include "support/scripted_platform.h"

namespace {

using picture::Box;
using picture::Surface;

// The control window as plain texts.
class FakeControls : public picture::Controls {
public:
    std::string rep = "256", col = "0";
    std::string text(Box box) const override { return box == Box::tRep ? rep : col; }
    void setText(Box, const std::string&) override {}
    bool startEnabled() const override { return true; }
    void setStartEnabled(bool) override {}
    void setRepLocked(bool) override {}
    void focusSize() override {}
    bool displayVisible() const override { return true; }
    void showDisplay() override {}
};

int countColour(const QImage& image, QRect area, QRgb rgb) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            n += image.pixel(x, y) == rgb;
        }
    }
    return n;
}

const QRgb kBlackRgb = qRgb(0, 0, 0);
const QRgb kWhiteRgb = qRgb(255, 255, 255);

TEST(SurfaceFont, IsTheStandInWithHalfWidthCellsOfEightByLinesOfSixteen) {
    const QFont font = picture::surfaceFont();
    EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAGothic"))
        << "install fonts-ipafont-gothic";
    const QFontMetrics metrics(font);
    EXPECT_EQ(metrics.horizontalAdvance(QStringLiteral("X=0.0000000000000")), 136);
    EXPECT_LE(metrics.height(), 17);
}

TEST(SurfaceFont, TextStaysOnItsSixteenRows) {
    Surface img;
    img.setTextPos(0, 804);
    img.print("XYSRCTD=0123456789/,:-.");
    const QImage& image = img.image();
    EXPECT_EQ(countColour(image, QRect(0, 0, 801, 804), kBlackRgb), 0);
    EXPECT_GT(countColour(image, QRect(0, 804, 801, 16), kBlackRgb), 0);
    EXPECT_EQ(countColour(image, QRect(0, 820, 801, 1), kBlackRgb), 0);
}

TEST(SurfaceDrawing, BoxesAreInclusiveAndClipped) {
    struct Row {
        const char* name;
        QRect corners;  // from (left, top) to (right, bottom), as drawn
        bool outline;
        int expectedPixels;
    };
    const Row rows[] = {
        {"one_pixel_box", QRect(QPoint(0, 802), QPoint(0, 802)), false, 1},
        {"whole_strip", QRect(QPoint(0, 801), QPoint(800, 820)), false, 801 * 20},
        {"outline_81", QRect(QPoint(60, 660), QPoint(140, 740)), true, 4 * 80},
        {"outline_clipped_at_corner", QRect(QPoint(-36, -36), QPoint(44, 44)), true, 2 * 45 - 1},
        {"box_beyond_the_surface", QRect(QPoint(790, 810), QPoint(900, 900)), false, 11 * 11},
    };
    for (const Row& r : rows) {
        Surface img;
        if (r.outline) {
            img.boxOutline(r.corners.left(), r.corners.top(), r.corners.right(), r.corners.bottom(),
                           0xFF);
        } else {
            img.fillBox(r.corners.right(), r.corners.bottom(), r.corners.left(), r.corners.top(),
                        0xFF);
        }
        EXPECT_EQ(countColour(img.image(), img.image().rect(), qRgb(255, 0, 0)), r.expectedPixels)
            << r.name;
    }
}

TEST(SurfaceDrawing, ColoursAreBlueGreenRedValues) {
    Surface img;
    img.setPixel(3, 4, 0x123456);
    EXPECT_EQ(img.image().pixel(3, 4), qRgb(0x56, 0x34, 0x12));
    img.setPixel(-1, 4, 0);  // clipped, no fault
    img.setPixel(801, 821, 0);
    const int32_t column[801] = {0x0000FF};
    img.setColumn(10, column);
    EXPECT_EQ(img.image().pixel(10, 0), qRgb(255, 0, 0));
    EXPECT_EQ(img.image().pixel(10, 1), kBlackRgb);
}

TEST(SurfaceDrawing, ReportsChangedAreasForRepaint) {
    Surface img;
    QRect reported;
    img.setOnChanged([&](const QRect& r) { reported |= r; });
    img.setPixel(5, 6, 0);
    EXPECT_TRUE(reported.isEmpty());  // single pixels wait for the next drawing
    img.fillBox(100, 801, 100, 801, 0);
    EXPECT_TRUE(reported.contains(QPoint(5, 6)));
    EXPECT_TRUE(reported.contains(QPoint(100, 801)));
}

TEST(SurfacePicture, SetPictureReplacesTheImageOrLeavesItAsItWas) {
    const auto filled = [](QSize size, QImage::Format format, QRgb rgb) {
        QImage image(size, format);
        image.fill(rgb);
        return image;
    };
    const QRgb kRed = qRgb(255, 0, 0), kBlue = qRgb(0, 0, 255);
    const QSize kSurface(801, 821);
    struct Probe {
        QPoint at;
        QRgb rgb;
    };
    const struct {
        const char* name;
        QImage picture;
        int err;
        std::vector<Probe> probes;  // after the call, on a surface filled black before it
    } rows[] = {
        {"null_image_changes_nothing",
         QImage(),
         481,
         {{{0, 0}, kBlackRgb}, {{800, 820}, kBlackRgb}}},
        {"same_size",
         filled(kSurface, QImage::Format_RGB32, kRed),
         0,
         {{{0, 0}, kRed}, {{800, 820}, kRed}}},
        {"same_size_other_format",
         filled(kSurface, QImage::Format_RGB888, kBlue),
         0,
         {{{0, 0}, kBlue}, {{800, 820}, kBlue}}},
        {"smaller_drawn_at_the_corner_on_white",
         filled(QSize(10, 10), QImage::Format_RGB32, kRed),
         0,
         {{{0, 0}, kRed}, {{9, 9}, kRed}, {{10, 9}, kWhiteRgb}, {{800, 820}, kWhiteRgb}}},
        {"larger_cut_to_the_surface",
         filled(QSize(900, 900), QImage::Format_ARGB32, kBlue),
         0,
         {{{0, 0}, kBlue}, {{800, 820}, kBlue}}},
    };
    for (const auto& r : rows) {
        Surface img;
        img.fillBox(0, 0, 800, 820, 0);
        QRect reported;
        img.setOnChanged([&](const QRect& area) { reported |= area; });
        EXPECT_EQ(img.setPicture(r.picture), r.err) << r.name;
        // The drawing helpers write 32-bit pixels straight into the image.
        EXPECT_EQ(img.image().size(), kSurface) << r.name;
        EXPECT_EQ(img.image().format(), QImage::Format_RGB32) << r.name;
        EXPECT_EQ(reported, r.err == 0 ? QRect(QPoint(0, 0), kSurface) : QRect()) << r.name;
        for (const Probe& p : r.probes) {
            EXPECT_EQ(img.image().pixel(p.at), p.rgb)
                << r.name << " at " << p.at.x() << ',' << p.at.y();
        }
    }
}

class Strip : public testing::Test {
protected:
    void draw(int column) { picture::DispPara(platform, img, controls, w, column); }

    testsupport::ScriptedPlatform platform;
    Surface img;
    FakeControls controls;
    picture::LibW w;

    void SetUp() override {
        w.PicXc = "0.0000000000000";
        w.PicYc = "0.0000000000000";
        w.PicSc = "2.0000000000000";
        w.RunSec = 12;
        platform.date = "2026/12/07";
        platform.time = "4:05:06";
    }
};

TEST_F(Strip, ProgressLineReachesTheColumn) {
    for (int column : {0, 1, 400, 800}) {
        draw(column);
        const QImage& image = img.image();
        EXPECT_EQ(countColour(image, QRect(0, 802, 801, 1), kBlackRgb), column + 1) << column;
        EXPECT_EQ(image.pixel(column, 802), kBlackRgb);
        EXPECT_EQ(countColour(image, QRect(0, 801, 801, 1), kWhiteRgb), 801) << "row 801 white";
        EXPECT_EQ(countColour(image, QRect(0, 803, 801, 1), kWhiteRgb), 801) << "row 803 white";
        EXPECT_EQ(countColour(image, QRect(0, 820, 801, 1), kWhiteRgb), 801) << "row 820 white";
    }
    draw(800);
    draw(0);  // a new strip leaves no trace of the earlier one
    EXPECT_EQ(countColour(img.image(), QRect(0, 802, 801, 1), kBlackRgb), 1);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(Strip, FieldsStartAtTheirPositionsOnTheTextLine) {
    draw(0);
    const QImage& image = img.image();
    // Text only on rows 804-819, and nothing left of the first field.
    int inked = countColour(image, QRect(0, 804, 801, 16), kBlackRgb);
    EXPECT_GT(inked, 500);
    EXPECT_EQ(countColour(image, QRect(0, 804, 4, 16), kBlackRgb), 0);
    // Each field's "X", "Y", "S", "R", "C", "T", "D" starts within its first
    // cell, and the cell just before each field is blank with these texts.
    const int starts[] = {4, 156, 308, 460, 524, 556, 620};
    for (int x : starts) {
        EXPECT_GT(countColour(image, QRect(x, 804, 8, 16), kBlackRgb), 0) << x;
    }
    for (int x : {150, 300, 452, 516, 612}) {
        EXPECT_EQ(countColour(image, QRect(x, 804, 4, 16), kBlackRgb), 0) << x;
    }
}

TEST_F(Strip, ShowsTheCapturedParametersAndTheCurrentBoxes) {
    draw(10);
    const QImage before = img.image();
    controls.rep = "100";
    draw(10);
    // Only the R field (x 460-523) changes with the repeat-count box.
    const QImage after = img.image();
    for (int y = 801; y <= 820; ++y) {
        for (int x = 0; x <= 800; ++x) {
            if (x < 460 || x >= 524) {
                ASSERT_EQ(before.pixel(x, y), after.pixel(x, y)) << x << ',' << y;
            }
        }
    }
    EXPECT_NE(before, after);
}

// A surface whose every pixel differs from its neighbours, so a text drawn
// over it shows any pixel that a replayed print sets or leaves wrongly.
QImage noise(unsigned seed) {
    QImage image(Surface::kWidth, Surface::kHeight, QImage::Format_RGB32);
    std::mt19937 random(seed);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] = 0xFF000000u | (random() & 0xFFFFFFu);
        }
    }
    return image;
}

// Texts printed as the surface did before it kept stamps: one painter per
// text, straight onto the image.
void printDirectly(QImage& image, int x, int y, const std::vector<std::string>& texts) {
    const QFont font = picture::surfaceFont();
    const QFontMetrics metrics(font);
    for (const std::string& text : texts) {
        const QString s = QString::fromStdString(text).left(1024);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::TextAntialiasing, false);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(QPoint(x, y + metrics.ascent()), s);
        x += metrics.horizontalAdvance(s);
    }
}

TEST(SurfaceText, ReplayedPrintsEqualDirectDrawingOnAnyBackground) {
    const struct {
        const char* name;
        int x, y;
        std::vector<std::string> texts;  // printed one after the other
    } rows[] = {
        {"strip_field", 4, 804, {"X=0.0000000000000"}},
        {"date_and_time", 620, 804, {"D=2026/12/07,4:05:06"}},
        {"fields_in_a_row", 460, 804, {"R=", "256", "C=", "0", "T=12"}},
        {"japanese", 100, 804, {"演算異常 ＭＳ ゴシック"}},
        {"combining_and_symbols", 200, 700, {"e\u0301 ∑√∞ \t|"}},
        {"past_the_right_edge", 790, 804, {"X=-12.5000000000000"}},
        {"left_of_the_surface", -30, 804, {"S=2.0000000000000"}},
        {"cut_at_the_top", 10, -8, {"XYZ gjpq"}},
        {"cut_at_the_bottom", 10, 812, {"XYZ gjpq"}},
        {"long_text", 0, 804, {std::string(3000, '8')}},
        {"empty", 300, 804, {"", "A"}},
    };
    for (const auto& r : rows) {
        for (unsigned seed : {1u, 2u}) {
            Surface img;
            ASSERT_EQ(img.setPicture(noise(seed)), 0);
            QImage expected = img.image();
            // Twice: the first print makes the stamp, the second replays it.
            for (int pass = 0; pass < 2; ++pass) {
                img.setTextPos(r.x, r.y);
                for (const std::string& t : r.texts) {
                    ASSERT_EQ(img.print(t), 0) << r.name;
                }
            }
            printDirectly(expected, r.x, r.y, r.texts);
            printDirectly(expected, r.x, r.y, r.texts);
            EXPECT_EQ(img.image(), expected) << r.name << " seed " << seed;
        }
    }
}

// A column and the strip are reported as two areas: their union would be
// the whole surface, and the window would repaint all of it every column.
TEST(SurfaceChanges, ColumnAndStripAreReportedApart) {
    Surface img;
    std::vector<QRect> areas;
    img.setOnChanged([&](const QRect& r) { areas.push_back(r); });
    std::vector<int32_t> colours(801, 0);
    img.setColumn(5, colours.data());
    img.fillBox(0, 801, 800, 820, 0xFFFFFF);
    img.setTextPos(4, 804);
    img.print("X=1");
    const std::vector<QRect> expected = {QRect(5, 0, 1, 801), QRect(0, 801, 801, 20),
                                         QRect(4, 804, 24, 17)};
    ASSERT_EQ(areas.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(areas[i], expected[i]) << i;
    }
}

TEST_F(Strip, TimeAndDateFieldsShowTheRunSecondsAndTheClock) {
    // Each row's T= and D= fields must be the pixels of their texts drawn
    // directly at x 556 and 620; a stamp replayed for another text, or a
    // field left from an earlier strip, shows as a difference.
    const struct {
        int32_t runSec;
        const char *date, *time;
        const char *tText, *dText;
    } rows[] = {
        {12, "2026/12/07", "4:05:06", "T=12", "D=2026/12/07,4:05:06"},
        {0, "2026/12/07", "4:05:07", "T=0", "D=2026/12/07,4:05:07"},
        {86399, "2027/01/01", "23:59:59", "T=86399", "D=2027/01/01,23:59:59"},
        {12, "2026/12/07", "4:05:06", "T=12", "D=2026/12/07,4:05:06"},  // back to the first
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.tText);
        w.RunSec = r.runSec;
        platform.date = r.date;
        platform.time = r.time;
        draw(5);
        QImage expected(Surface::kWidth, Surface::kHeight, QImage::Format_RGB32);
        expected.fill(Qt::white);
        printDirectly(expected, 556, 804, {r.tText});
        printDirectly(expected, 620, 804, {r.dText});
        const QImage& image = img.image();
        for (int y = 803; y <= 820; ++y) {
            for (int x = 556; x <= 800; ++x) {
                ASSERT_EQ(image.pixel(x, y), expected.pixel(x, y)) << x << ',' << y;
            }
        }
    }
    EXPECT_TRUE(platform.messages.empty());
}

// A strip drawn with the memo of its last drawing has the pixels of one
// drawn whole, whatever came between: texts that change, a shorter line
// after a recolouring's full one, other drawings on the strip's rows.
TEST_F(Strip, DrawingWithTheMemoEqualsDrawingWhole) {
    const struct {
        const char* name;
        std::function<void(Surface&, FakeControls&, picture::LibW&)> between;
        int column;
    } steps[] = {
        {"first", nullptr, 0},
        {"next_column", nullptr, 1},
        {"several_columns", nullptr, 9},
        {"same_column", nullptr, 9},
        {"seconds", [](Surface&, FakeControls&, picture::LibW& lw) { lw.RunSec = 13; }, 10},
        {"colour_box", [](Surface&, FakeControls& c, picture::LibW&) { c.col = "3"; }, 11},
        {"recoloured_whole", nullptr, 800},
        {"shorter_line", nullptr, 12},
        {"mark_over_strip", [](Surface& s, FakeControls&, picture::LibW&) {
             s.boxOutline(300, 780, 400, 810, 0x0000FF);
         }, 13},
        {"pixel_in_strip", [](Surface& s, FakeControls&, picture::LibW&) {
             s.setPixel(700, 802, 0x00FF00);
         }, 14},
        {"pixel_in_picture", [](Surface& s, FakeControls&, picture::LibW&) {
             s.setPixel(700, 800, 0x00FF00);
         }, 15},
        {"picture_restored", [](Surface& s, FakeControls&, picture::LibW&) {
             s.setPicture(noise(3));
         }, 16},
        {"column_painted", [](Surface& s, FakeControls&, picture::LibW&) {
             const std::vector<int32_t> colours(801, 0xFF0000);
             s.setColumn(17, colours.data());
         }, 17},
    };
    Surface whole;
    FakeControls wholeControls;
    picture::LibW wholeW = w;
    picture::StripMemo memo;
    for (const auto& step : steps) {
        if (step.between) {
            step.between(img, controls, w);
            step.between(whole, wholeControls, wholeW);
        }
        picture::DispPara(platform, img, controls, w, step.column, &memo);
        picture::DispPara(platform, whole, wholeControls, wholeW, step.column);
        ASSERT_EQ(img.image(), whole.image()) << step.name;
    }
    EXPECT_TRUE(platform.messages.empty());
}

}  // namespace
