#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <filesystem>
#include <vector>

#include "app/program.h"
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
        // The user works in the program: its control window is active, so
        // the end of a run hands it the keyboard.
        program->kest().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&program->kest()));
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

TEST_F(Run, PointerClicksAndColourBoxReachTheHandlers) {
    pressStart();
    QTest::mouseMove(img(), QPoint(100, 700));
    EXPECT_EQ(program->text(Box::tXX), "-1.5000000000000");
    EXPECT_EQ(program->text(Box::tYY), "-1.5000000000000");
    QTest::mouseClick(img(), Qt::LeftButton, {}, QPoint(100, 700));
    EXPECT_EQ(program->text(Box::tXc), "-1.5000000000000");
    EXPECT_EQ(program->text(Box::tSc), "0.2000000000000");
    EXPECT_EQ(program->img().image().pixel(60, 660), qRgb(255, 0, 0));  // the mark

    program->kest().tCol()->setText(QStringLiteral("2"));
    ASSERT_EQ(files(), 2);
    expectPicture(QImage(QString::fromStdString(bmp(1))), referenceCounts({0.0, 0.0, 2.0}, 256),
                  256, 2);
}

TEST_F(Run, KeysDuringARunReachNoBox) {
    program->setText(Box::tRep, "64");
    std::vector<std::string> before;
    for (Box b : {Box::tXc, Box::tYc, Box::tSc, Box::tRep, Box::tCol}) {
        before.push_back(program->text(b));
    }
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

// A focused START is pressed by Enter, the keypad's Enter and Space; Enter
// and Escape in a box press nothing.
TEST_F(Run, KeysOnAFocusedStartPressItOnce) {
    const struct {
        const char* name;
        bool onStart;  // else in the size box
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int runs;
    } rows[] = {
        {"return", true, Qt::Key_Return, Qt::NoModifier, 1},
        {"keypad_enter", true, Qt::Key_Enter, Qt::KeypadModifier, 1},
        {"space", true, Qt::Key_Space, Qt::NoModifier, 1},
        {"ctrl_return", true, Qt::Key_Return, Qt::ControlModifier, 0},
        {"return_in_box", false, Qt::Key_Return, Qt::NoModifier, 0},
        {"escape_in_box", false, Qt::Key_Escape, Qt::NoModifier, 0},
    };
    int expected = 0;
    for (const auto& r : rows) {
        QWidget* target = r.onStart ? static_cast<QWidget*>(program->kest().cStar())
                                    : program->kest().tSc();
        target->setFocus(Qt::TabFocusReason);
        QTest::keyClick(target, r.key, r.modifiers);
        expected += r.runs;
        EXPECT_EQ(files(), expected) << r.name;
    }
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
