#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <vector>

#include "app/program.h"
#include "compute/kernel_count_source.h"
#include "core/colour.h"
#include "core/kernel.h"
#include "support/scripted_platform.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using picture::Box;
using testsupport::ProgramEnded;

const char* kPalette = "0000FF\n00FF00\nFF0000\n00FFFF\nFF00FF\nFFFF00\n808080\n000080\n";

// Reference counts of a whole view, column-major.
std::vector<int32_t> referenceCounts(const core::View& view, int32_t rep) {
    std::vector<int32_t> counts(801 * 801);
    core::referenceColumns(view, 4.0, rep, 0, 801, counts.data());
    return counts;
}

class Run : public testing::Test {
protected:
    void SetUp() override {
        platform.folder = dir.path();
        platform.clock = {100.0f};
        dir.write("Color.Ini", kPalette);
        program = std::make_unique<app::Program>(platform);
        program->start();
    }

    void pressStart() { QTest::mouseClick(program->kest().cStar(), Qt::LeftButton); }
    std::string bmp(int i) const {
        char name[16];
        std::snprintf(name, sizeof name, "/Bmp/M%03d.Bmp", i);
        return dir.path() + name;
    }
    int files() const {
        return static_cast<int>(
            std::distance(fs::directory_iterator(dir.path() + "/Bmp"), fs::directory_iterator()));
    }
    ui::ImgView* img() { return program->disp().img(); }

    // Checks pixels of the picture part of an image against counts coloured
    // with rep and mode, for the columns from..to.
    void expectPicture(const QImage& image, const std::vector<int32_t>& counts, int32_t rep,
                       int32_t mode, int from = 0, int to = 800) {
        const core::ColTable& table = program->libw().ColTbl;
        for (int col = from; col <= to; ++col) {
            for (int row = 0; row <= 800; ++row) {
                const int32_t c = counts[static_cast<size_t>(col) * 801 + row];
                ASSERT_EQ(image.pixel(col, row),
                          picture::Surface::toRgb(core::ColorOf(c, rep, mode, table)))
                    << col << ',' << row << " count " << c;
            }
        }
    }

    testsupport::TempDir dir;
    testsupport::ScriptedPlatform platform;
    std::unique_ptr<app::Program> program;
};

TEST_F(Run, DefaultRunPaintsStoresAndSavesThePicture) {
    pressStart();
    const auto counts = referenceCounts({0.0, 0.0, 2.0}, 256);
    const picture::LibW& w = program->libw();
    for (int col = 0; col <= 800; ++col) {
        for (int row = 0; row <= 800; ++row) {
            ASSERT_EQ(w.CntMap.at(col, row), counts[static_cast<size_t>(col) * 801 + row]);
        }
    }
    ASSERT_EQ(files(), 1);
    QImage saved(QString::fromStdString(bmp(0)));
    ASSERT_EQ(saved.size(), QSize(801, 821));
    expectPicture(saved, counts, 256, 0);
    EXPECT_EQ(saved.pixel(800, 802), qRgb(0, 0, 0));  // full progress line
    EXPECT_EQ(saved.pixel(400, 801), qRgb(255, 255, 255));
    EXPECT_EQ(saved, program->libw().files.PicSaved);

    EXPECT_EQ(w.PicXc, "0.0000000000000");
    EXPECT_EQ(w.PicSc, "2.0000000000000");
    EXPECT_TRUE(program->startEnabled());
    EXPECT_FALSE(program->kest().tRep()->isReadOnly());
    // The keyboard follows the application's focus, not the window's record.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&program->kest()));
    EXPECT_EQ(QApplication::focusWidget(), program->kest().tSc());
    EXPECT_TRUE(program->displayVisible());
    EXPECT_EQ(platform.eventRounds, 801);
    EXPECT_TRUE(platform.messages.empty());
}

TEST_F(Run, ElapsedSecondsRoundHalvesToEvenAndCrossMidnight) {
    const struct {
        float start, end;
        int32_t runSec;
    } rows[] = {{10.0f, 12.5f, 2}, {10.0f, 13.5f, 4}, {86390.0f, 20.0f, 30}, {5.0f, 5.0f, 0}};
    for (const auto& r : rows) {
        platform.clock = {r.start, r.end};
        program->handlers().startClicked();
        EXPECT_EQ(program->libw().RunSec, r.runSec) << r.start << " to " << r.end;
    }
}

TEST_F(Run, WorkedExampleOfAZoom) {
    pressStart();
    QTest::mouseMove(img(), QPoint(100, 700));
    EXPECT_EQ(program->text(Box::tXX), "-1.5000000000000");
    EXPECT_EQ(program->text(Box::tYY), "-1.5000000000000");
    QTest::mouseMove(img(), QPoint(600, 200));
    EXPECT_EQ(program->text(Box::tXX), " 1.0000000000000");
    QTest::mouseMove(img(), QPoint(100, 700));
    QTest::mouseClick(img(), Qt::LeftButton, {}, QPoint(100, 700));
    EXPECT_EQ(program->text(Box::tXc), "-1.5000000000000");
    EXPECT_EQ(program->text(Box::tYc), "-1.5000000000000");
    EXPECT_EQ(program->text(Box::tSc), "0.2000000000000");

    const QImage& shown = program->img().image();
    const QImage& saved = program->libw().files.PicSaved;
    EXPECT_EQ(shown.pixel(60, 660), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(140, 740), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(59, 659), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(141, 741), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(100, 700), saved.pixel(100, 700));  // inside untouched
    EXPECT_EQ(shown.pixel(61, 661), saved.pixel(61, 661));

    // A second click moves the mark: the first one is gone.
    QTest::mouseMove(img(), QPoint(500, 300));
    QTest::mouseClick(img(), Qt::LeftButton, {}, QPoint(500, 300));
    EXPECT_EQ(program->img().image().pixel(60, 660), saved.pixel(60, 660));
    EXPECT_EQ(program->text(Box::tSc), "0.2000000000000");  // read from the picture's size

    QTest::mouseMove(img(), QPoint(100, 700));
    QTest::mouseClick(img(), Qt::LeftButton, {}, QPoint(100, 700));
    pressStart();
    const auto counts = referenceCounts({-1.5, -1.5, 0.2}, 256);
    expectPicture(QImage(QString::fromStdString(bmp(1))), counts, 256, 0);
    EXPECT_EQ(program->libw().PicSc, "0.2000000000000");
}

TEST_F(Run, EventsDuringARun) {
    program->setText(Box::tRep, "64");
    int column = -1;
    platform.onProcessEvents = [&] {
        ++column;
        if (column == 50) {
            QTest::mouseMove(img(), QPoint(600, 200));
            EXPECT_EQ(program->text(Box::tXX), " 1.0000000000000");
            QTest::mouseClick(img(), Qt::LeftButton, {}, QPoint(600, 200));
            EXPECT_EQ(program->text(Box::tXc), "0.0000000000000");  // clicks change nothing
            EXPECT_FALSE(program->startEnabled());
            EXPECT_TRUE(program->kest().tRep()->isReadOnly());
            program->setText(Box::tXc, "0.5");  // the running picture keeps its centre
            program->setText(Box::tCol, "2");   // repaints and saves at once
            EXPECT_EQ(files(), 1);
        }
    };
    pressStart();
    ASSERT_EQ(files(), 2);
    const auto counts = referenceCounts({0.0, 0.0, 2.0}, 64);
    const std::vector<int32_t> zeros(801 * 801, 0);
    // Mid-run file: the columns reached in mode 2, the rest still count 0.
    const QImage mid(QString::fromStdString(bmp(0)));
    expectPicture(mid, counts, 64, 2, 0, 50);
    expectPicture(mid, zeros, 64, 2, 51, 800);
    // The run goes on in its own mode.
    const QImage last(QString::fromStdString(bmp(1)));
    expectPicture(last, counts, 64, 2, 0, 50);
    expectPicture(last, counts, 64, 0, 51, 800);
    EXPECT_EQ(program->libw().PicXc, "0.0000000000000");
}

TEST_F(Run, KeysDuringARunReachNoBox) {
    program->setText(Box::tRep, "64");
    std::vector<std::string> before;
    for (Box b : {Box::tXc, Box::tYc, Box::tSc, Box::tRep, Box::tCol}) {
        before.push_back(program->text(b));
    }
    program->kest().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&program->kest()));
    int column = -1;
    platform.onProcessEvents = [&] {
        if (++column != 10) {
            return;
        }
        // Typed to the window, as a keyboard does: Tab would move into a box.
        QWindow* window = program->kest().windowHandle();
        ASSERT_NE(window, nullptr);
        for (Qt::Key key : {Qt::Key_1, Qt::Key_Tab, Qt::Key_2, Qt::Key_Backspace, Qt::Key_3}) {
            QTest::keyClick(window, key);
        }
        EXPECT_EQ(program->kest().focusWidget(), &program->kest());
    };
    pressStart();
    std::vector<std::string> after;
    for (Box b : {Box::tXc, Box::tYc, Box::tSc, Box::tRep, Box::tCol}) {
        after.push_back(program->text(b));
    }
    EXPECT_EQ(after, before);
    EXPECT_EQ(files(), 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), program->kest().tSc());
}

TEST_F(Run, Recolouring) {
    pressStart();
    const auto counts = referenceCounts({0.0, 0.0, 2.0}, 256);
    const struct {
        const char* text;
        const char* shown;  // the box afterwards
        int32_t mode;
    } rows[] = {
        {"5", "0", 0}, {"4.5", "4.5", 4}, {"4.6", "0", 0}, {"-0.4", "-0.4", 0}, {"3", "3", 3},
    };
    int expectedFiles = 1;
    for (const auto& r : rows) {
        program->setText(Box::tCol, r.text);
        ++expectedFiles;  // one file per change, the corrected one included
        EXPECT_EQ(program->text(Box::tCol), r.shown);
        ASSERT_EQ(files(), expectedFiles) << r.text;
        expectPicture(program->img().image(), counts, 256, r.mode);
    }

    // A smaller repeat count after the run colours the stored counts against it.
    program->setText(Box::tRep, "100");
    program->setText(Box::tCol, "2");
    expectPicture(program->img().image(), counts, 100, 2);
    const QImage two = program->img().image();
    program->setText(Box::tCol, "0");
    program->setText(Box::tCol, "2");
    EXPECT_EQ(program->img().image().copy(0, 0, 801, 801), two.copy(0, 0, 801, 801));
    EXPECT_EQ(program->libw().CntMap.at(400, 400), 257);  // counts are never recomputed
}

TEST_F(Run, NumbersThatDoNotFitLeaveTheProgramAsItWas) {
    const struct {
        Box box;
        const char* text;
    } rows[] = {
        {Box::tRep, "1E400"}, {Box::tRep, "2147483647.5"}, {Box::tCol, "99999999999"},
        {Box::tXc, "1E400"},  {Box::tYc, "-1E400"},        {Box::tSc, "1D999"},
    };
    for (const auto& r : rows) {
        program->start();
        platform.messages.clear();
        program->setText(r.box, r.text);
        pressStart();
        ASSERT_EQ(platform.messages.size(), 1u) << r.text;
        EXPECT_EQ(platform.messages[0], "実行時エラー '6':\n\nオーバーフローしました。");
        EXPECT_TRUE(program->startEnabled());
        EXPECT_FALSE(program->kest().tRep()->isReadOnly());
        EXPECT_FALSE(program->displayVisible());
        EXPECT_TRUE(program->libw().PicXc.empty());
        EXPECT_EQ(files(), 0);
    }

    // With the picture shown, a colour mode or repeat count that does not fit
    // repaints nothing and saves nothing.
    program->start();
    pressStart();
    const QImage before = program->img().image();
    platform.messages.clear();
    program->setText(Box::tCol, "1E400");
    program->setText(Box::tRep, "1E10");
    program->setText(Box::tCol, "2");
    EXPECT_EQ(platform.messages.size(), 2u);
    EXPECT_EQ(program->img().image(), before);
    EXPECT_EQ(files(), 1);
}

TEST_F(Run, ComputationFaultStopsAtTheSweepPixel) {
    // Rows near the bottom of column 0 escape at once; higher up |c|^2 leaves
    // the double range. The sweep paints up to the fault, then ends.
    program->setText(Box::tXc, "0");
    program->setText(Box::tYc, "1.2E154");
    program->setText(Box::tSc, "1.2E154");
    program->img().fillBox(0, 0, 800, 800, 0x00FF00);
    EXPECT_THROW(program->handlers().startClicked(), ProgramEnded);
    ASSERT_EQ(platform.messages.size(), 1u);
    EXPECT_EQ(platform.messages[0], "6 XX-YY 演算異常");
    EXPECT_EQ(files(), 0);

    std::vector<int32_t> ref(801);
    const core::SweepFault fault =
        core::referenceColumns({0.0, 1.2e154, 1.2e154}, 4.0, 256, 0, 1, ref.data());
    ASSERT_EQ(fault.col, 0);
    ASSERT_GT(fault.row, 0);
    ASSERT_LT(fault.row, 800);
    const QImage& shown = program->img().image();
    for (int row = 800; row > fault.row; --row) {
        EXPECT_EQ(shown.pixel(0, row), qRgb(255, 255, 255)) << row;  // count 0
    }
    for (int row = fault.row; row >= 0; --row) {
        EXPECT_EQ(shown.pixel(0, row), qRgb(0, 255, 0)) << row;  // never reached
    }
    EXPECT_EQ(shown.pixel(1, 800), qRgb(0, 255, 0));
}

TEST_F(Run, HugeSizeFaultsAtTheFirstPixel) {
    program->setText(Box::tSc, "1E300");
    EXPECT_THROW(program->handlers().startClicked(), ProgramEnded);
    EXPECT_EQ(platform.messages, std::vector<std::string>{"6 XX-YY 演算異常"});
    EXPECT_EQ(files(), 0);
}

// Hash of the count grid, to compare grids at every event cheaply.
uint64_t gridHash(const core::CountGrid& grid) {
    uint64_t h = 1469598103934665603ull;
    for (int32_t c : grid.cells()) {
        h = (h ^ static_cast<uint32_t>(c)) * 1099511628211ull;
    }
    return h;
}

TEST(RunConcurrency, CountGridAtEveryEventEqualsTheSequentialRun) {
    // The same START, counted ahead by worker threads and one column at a
    // time on this thread: every event sees the same grid.
    auto hashesAtEvents = [](compute::CountSource* counts) {
        testsupport::TempDir dir;
        testsupport::ScriptedPlatform platform;
        platform.folder = dir.path();
        app::Program program(platform, counts);
        program.start();
        program.setText(Box::tXc, "-0.75");
        program.setText(Box::tYc, "0.1");
        program.setText(Box::tSc, "0.05");
        program.setText(Box::tRep, "1000");
        std::vector<uint64_t> hashes;
        platform.onProcessEvents = [&] { hashes.push_back(gridHash(program.libw().CntMap)); };
        program.handlers().startClicked();
        program.handlers().startClicked();  // a second run over the first one's counts
        return hashes;
    };
    compute::KernelCountSource sequential;
    const std::vector<uint64_t> expected = hashesAtEvents(&sequential);
    ASSERT_EQ(expected.size(), 2u * 801);
    EXPECT_EQ(hashesAtEvents(nullptr), expected);
}

TEST(RunShutdown, ClosingTheControlWindowMidRunWritesNoFile) {
    testsupport::TempDir dir;
    EXPECT_EXIT(
        {
            struct Ending : testsupport::ScriptedPlatform {
                int columns = 0;
                void endProgram() override { std::_Exit(7); }
            } platform;
            platform.folder = dir.path();
            app::Program program(platform);
            program.start();
            platform.onProcessEvents = [&] {
                if (++platform.columns == 300) {
                    program.kest().close();
                }
            };
            program.handlers().startClicked();
            std::_Exit(1);
        },
        testing::ExitedWithCode(7), "");
    EXPECT_TRUE(fs::is_empty(dir.path() + "/Bmp"));
}

}  // namespace
