#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/program.h"
#include "compute/kernel_count_source.h"
#include "support/scripted_platform.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using picture::Box;

class StartUp : public testing::Test {
protected:
    void SetUp() override {
        platform.folder = dir.path();
        dir.write("Color.Ini", "0000FF\n00FF00\n");
        program = std::make_unique<app::Program>(platform);
        program->start();
    }

    testsupport::TempDir dir;
    testsupport::ScriptedPlatform platform;
    std::unique_ptr<app::Program> program;
};

TEST_F(StartUp, ShowsTheControlWindowAloneWithTheDefaults) {
    const struct {
        Box box;
        const char* text;
    } texts[] = {
        {Box::tXc, "0.0000000000000"},
        {Box::tYc, "0.0000000000000"},
        {Box::tSc, "2.0000000000000"},
        {Box::tRep, "256"},
        {Box::tCol, "0"},
        {Box::tXX, ""},
        {Box::tYY, ""},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(program->text(t.box), t.text);
    }
    EXPECT_TRUE(program->kest().isVisible());
    EXPECT_FALSE(program->displayVisible());
    EXPECT_TRUE(program->startEnabled());
    EXPECT_FALSE(program->kest().tRep()->isReadOnly());
    EXPECT_EQ(program->kest().focusWidget(), program->kest().tYY());

    EXPECT_TRUE(fs::is_directory(dir.path() + "/Bmp"));
    EXPECT_TRUE(fs::is_empty(dir.path() + "/Bmp"));
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(StartUp, ControlWindowLayoutInPixels) {
    ui::Kest& k = program->kest();
    EXPECT_EQ(k.windowTitle(), QStringLiteral("QUARLOVINE SET   V4610A"));
    EXPECT_EQ(k.size(), QSize(271, 145));
    EXPECT_EQ(k.minimumSize(), k.maximumSize());  // fixed size
    EXPECT_EQ(k.pos(), QPoint(800, 0));
    const struct {
        QWidget* widget;
        QRect geometry;
    } rows[] = {
        {k.tXc(), {24, 20, 137, 19}},   {k.tYc(), {24, 40, 137, 19}},
        {k.tSc(), {24, 60, 137, 19}},   {k.tXX(), {24, 100, 137, 19}},
        {k.tYY(), {24, 120, 137, 19}},  {k.tRep(), {200, 20, 41, 19}},
        {k.tCol(), {208, 100, 25, 19}}, {k.cStar(), {176, 44, 89, 25}},
        {k.label(0), {8, 24, 41, 25}},  {k.label(4), {8, 120, 41, 25}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.widget->geometry(), r.geometry) << r.widget->metaObject()->className();
    }
    const char* captions[] = {"X", "Y", "S", "X", "Y"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(k.label(i)->text(), QString::fromUtf8(captions[i]));
        EXPECT_EQ(k.label(i)->x(), 8);
    }
    EXPECT_EQ(k.tXc()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(k.tCol()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    EXPECT_TRUE(k.cStar()->font().bold());
    EXPECT_FALSE(k.tXc()->font().bold());
    EXPECT_FALSE(k.cStar()->isDefault());
    EXPECT_FALSE(k.cStar()->autoDefault());
    EXPECT_EQ(QFontInfo(k.tXc()->font()).family(), QStringLiteral("IPAGothic"));
}

TEST_F(StartUp, TabOrderRunsThroughTheBoxesAndStart) {
    ui::Kest& k = program->kest();
    QWidget* expected[] = {k.tXX(),  k.tSc(),  k.tYc(), k.cStar(),
                           k.tCol(), k.tRep(), k.tXc(), k.tYY()};
    QWidget* w = k.tYY();
    for (QWidget* next : expected) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus) {
            w = w->nextInFocusChain();
        }
        EXPECT_EQ(w, next);
    }
}

TEST_F(StartUp, DisplayWindowIsFramelessAtTheCorner) {
    ui::Disp& d = program->disp();
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Form1"));
    EXPECT_TRUE(d.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(d.size(), QSize(801, 821));
    EXPECT_EQ(d.pos(), QPoint(0, 0));
    EXPECT_EQ(d.img()->geometry(), QRect(0, 0, 801, 821));
    EXPECT_EQ(program->img().image().size(), QSize(801, 821));
}

TEST_F(StartUp, PointerMovesAndClicksAreReportedInPixels) {
    program->showDisplay();
    ui::ImgView* img = program->disp().img();
    QSignalSpy moves(img, &ui::ImgView::mouseMoved);
    QSignalSpy clicks(img, &ui::ImgView::clicked);
    QTest::mouseMove(img, QPoint(100, 700));
    QTest::mouseClick(img, Qt::LeftButton, {}, QPoint(100, 700));
    QTest::mouseClick(img, Qt::RightButton, {}, QPoint(100, 700));
    ASSERT_GE(moves.size(), 1);
    EXPECT_EQ(moves.last().at(0).toFloat(), 100.0f);
    EXPECT_EQ(moves.last().at(1).toFloat(), 700.0f);
    EXPECT_EQ(clicks.size(), 1);
}

int threadsOfThisProcess() {
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()));
}

TEST(StartUpCounts, APoolOnlyWhenNoCountSourceIsGiven) {
    testsupport::TempDir dir;
    testsupport::ScriptedPlatform platform;
    platform.folder = dir.path();
    const int before = threadsOfThisProcess();
    {
        compute::KernelCountSource kernel;
        app::Program given(platform, &kernel);
        EXPECT_EQ(threadsOfThisProcess(), before);
    }
    app::Program own(platform);
    EXPECT_GT(threadsOfThisProcess(), before);
}

TEST(Shutdown, ClosingTheControlWindowEndsTheProgram) {
    EXPECT_EXIT(
        {
            testsupport::TempDir dir;
            struct Ending : testsupport::ScriptedPlatform {
                void endProgram() override { std::_Exit(7); }
            } platform;
            platform.folder = dir.path();
            app::Program program(platform);
            program.start();
            program.kest().close();
            std::_Exit(1);
        },
        testing::ExitedWithCode(7), "");
}

}  // namespace
