// The real program on a real X server, bare and under a window manager,
// driven as a user drives it: where keys go, which window is active, what a
// comma-decimal desktop and Qt's own options do. Each row starts its own
// server (and openbox) and its own program in a scratch folder.
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
#include <iostream>
#include <ostream>
#include <thread>

#include "support/xsession.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ProgramUnderX;
using testsupport::XSession;
using C = ProgramUnderX::Control;

struct Desk {
    const char* name;
    bool windowManager;
};

void PrintTo(const Desk& desk, std::ostream* out) {
    *out << desk.name;
}

class RealDisplay : public ::testing::TestWithParam<Desk> {};

// The executable under test: the one built beside this test, or another
// build of it named by QUARLO_UNDER_TEST (to show that a row catches a fault).
std::string underTest() {
    const char* other = std::getenv("QUARLO_UNDER_TEST");
    return other != nullptr ? other : QUARLO_EXECUTABLE;
}

struct View {
    const char *xc, *yc, *sc, *rep;
};
// A START busy for a good part of a second, and one busy for about a
// minute: the run is surely going when the test acts.
constexpr View kLongView{"-0.75", "0.1", "0.05", "10000"};
constexpr View kSlowView{"0.25", "0", "1E-8", "1000000"};

// Whether the display window is up: a START has begun.
bool displayShown(const XSession& x) {
    return !x.run({"xdotool", "search", "--onlyvisible", "--name", "^Form1$"}).empty();
}

void setView(const ProgramUnderX& p, const View& v) {
    p.setBox(C::tXc, v.xc);
    p.setBox(C::tYc, v.yc);
    p.setBox(C::tSc, v.sc);
    p.setBox(C::tRep, v.rep);
}

TEST_P(RealDisplay, KeyDuringRunChangesNoBoxAndWritesNoFile) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    setView(p, kLongView);
    // The key follows the click at once, while the run computes: the
    // disabled START must not hand the keyboard to the colour-mode box.
    x.run({"xdotool", "mousemove", "--window", p.controlWindow(), "220", "56", "click", "1", "type",
           "1"});
    ASSERT_TRUE(p.waitForPicture("M000.Bmp"));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(p.pictures(), std::vector<std::string>{"M000.Bmp"});
    EXPECT_EQ(p.box(C::tCol), "0");
    EXPECT_EQ(p.box(C::tXc), "-0.75");
    EXPECT_EQ(p.box(C::tYc), "0.1");
    EXPECT_EQ(p.box(C::tSc), "0.05");
    EXPECT_EQ(p.box(C::tRep), "10000");
}

TEST_P(RealDisplay, TypingAfterFirstAndSecondStartLandsInSize) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    const struct {
        const char* picture;
        const char* key;
    } runs[] = {{"M000.Bmp", "7"}, {"M001.Bmp", "8"}};
    for (const auto& run : runs) {
        p.click(C::cStar);
        ASSERT_TRUE(p.waitForPicture(run.picture));
        std::this_thread::sleep_for(500ms);  // loaded back, and the keyboard in place
        // The pointer rests on the picture: the keys must still reach the
        // control window, which the end of the run made active.
        p.moveToPicture(400, 400);
        p.type(run.key);
    }
    EXPECT_EQ(p.box(C::tSc), "2.000000000000078");
}

TEST_P(RealDisplay, ZoomUnderCommaDecimalLocaleLandsWhereClicked) {
    const locale_t german = newlocale(LC_ALL_MASK, "de_DE.UTF-8", locale_t{});
    ASSERT_NE(german, locale_t{}) << "the test set-up generates de_DE.UTF-8";
    freelocale(german);
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest(), {}, {{"LANG", "de_DE.UTF-8"}, {"LC_ALL", "de_DE.UTF-8"}});
    p.click(C::cStar);
    ASSERT_TRUE(p.waitForPicture("M000.Bmp"));
    std::this_thread::sleep_for(500ms);  // loaded back: a click counts only then
    p.clickPicture(100, 700);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(p.box(C::tXX), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tXc), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tYc), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tSc), "0.2000000000000");
}

TEST_P(RealDisplay, QtCommandLineOptionsChangeNothing) {
    XSession x(GetParam().windowManager);
    // The program is found by its own title, so -qwindowtitle did nothing.
    ProgramUnderX p(
        x, underTest(),
        {"-reverse", "-qwindowtitle", "Foo", "-style", "windows", "-geometry", "50x50+300+300"});
    EXPECT_EQ(x.run({"xdotool", "search", "--name", "Foo"}), "");
    // START is where it belongs: a mirrored layout would put a box there.
    p.click(C::cStar);
    EXPECT_TRUE(p.waitForPicture("M000.Bmp", 10s));
}

TEST_P(RealDisplay, KeysAfterAClickOnThePictureReachNoBox) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    p.click(C::cStar);
    ASSERT_TRUE(p.waitForPicture("M000.Bmp"));
    p.waitForIdle();
    // With the keyboard in the colour-mode box, a click on the picture
    // zooms and takes the keyboard: digits would repaint and save.
    p.click(C::tCol);
    p.clickPicture(100, 700);
    p.type("399");
    p.key("BackSpace Return");
    EXPECT_EQ(p.box(C::tCol), "0");
    EXPECT_EQ(p.box(C::tXc), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tSc), "0.2000000000000");
    EXPECT_EQ(p.pictures(), std::vector<std::string>{"M000.Bmp"});
}

TEST_P(RealDisplay, AnotherProgramActiveDuringARunStaysActive) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    x.spawn({"xmessage", "-geometry", "+300+880", "another program"});
    std::string other;
    ASSERT_TRUE(testsupport::eventually([&] {
        other = x.run({"xdotool", "search", "--onlyvisible", "--name", "^xmessage$"});
        return !other.empty();
    }));
    // A run of a few seconds, the other program made active during it; then
    // a run of milliseconds, the other program made active as it ends: Qt
    // still takes itself for active then.
    const struct {
        const char* size;
        const char* rep;
        const char* picture;
        bool endsAfterTheSwitch;
    } runs[] = {{"1E-8", "30000", "M000.Bmp", true}, {"2", "256", "M001.Bmp", false}};
    for (const auto& run : runs) {
        x.activate(p.controlWindow());
        p.setBox(C::tXc, "0.25");
        p.setBox(C::tSc, run.size);
        p.setBox(C::tRep, run.rep);
        p.click(C::cStar);
        // The picture comes up without taking the activation from the
        // control window.
        ASSERT_TRUE(testsupport::eventually([&] { return displayShown(x); }));
        if (x.windowManager() && run.endsAfterTheSwitch) {
            EXPECT_EQ(x.activeWindow(), p.controlWindow());
        }
        x.activate(other);
        if (run.endsAfterTheSwitch) {
            ASSERT_TRUE(p.pictures().empty()) << "the run ended before the switch";
        }
        ASSERT_TRUE(p.waitForPicture(run.picture, 60s));
        // The end of the run follows the picture within milliseconds; it
        // must leave the other program active.
        const auto until = std::chrono::steady_clock::now() + 1s;
        while (std::chrono::steady_clock::now() < until) {
            ASSERT_EQ(x.activeWindow(), other) << run.picture;
            std::this_thread::sleep_for(50ms);
        }
        // Back in the control window through the window manager, not a
        // click into a box: the keyboard waits in the size box.
        x.activate(p.controlWindow());
        p.type("7");
        EXPECT_EQ(p.box(C::tSc), std::string(run.size) + "7");
    }
}

TEST_P(RealDisplay, CloseDuringASlowRunEndsAtOnce) {
    if (!GetParam().windowManager) {
        GTEST_SKIP() << "without a window manager nothing closes a window";
    }
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    setView(p, kSlowView);
    p.click(C::cStar);
    // The run is going once the picture is up: the view takes a minute.
    ASSERT_TRUE(testsupport::eventually([&] { return displayShown(x); }));
    x.run({"wmctrl", "-i", "-c", p.controlWindow()});
    const auto took = p.waitForExit(5s);
    ASSERT_TRUE(took.has_value()) << "the program did not end";
    std::cout << "close to exit: " << took->count() << " ms\n";
    RecordProperty("close_ms", static_cast<int>(took->count()));
    EXPECT_LT(*took, 1s);
    EXPECT_TRUE(p.pictures().empty());
}

TEST_P(RealDisplay, EnterAndSpaceOnAFocusedStartRunOnceEach) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    // Enter and Escape in a box press nothing; tSc, tYc, then START.
    p.click(C::tSc);
    p.key("Return Escape Tab Tab Return");
    ASSERT_TRUE(p.waitForPicture("M000.Bmp"));
    p.waitForIdle();  // the keyboard in tYc, START next
    p.key("Tab space");
    ASSERT_TRUE(p.waitForPicture("M001.Bmp"));
    p.waitForIdle();
    EXPECT_EQ(p.pictures(), (std::vector<std::string>{"M000.Bmp", "M001.Bmp"}));
}

INSTANTIATE_TEST_SUITE_P(Desks, RealDisplay,
                         ::testing::Values(Desk{"Bare", false}, Desk{"Openbox", true}),
                         [](const auto& info) { return std::string(info.param.name); });

// On a screen scaled 2x each picture pixel is 2 x 2 device pixels: the
// pointer on either of them reads and zooms that picture pixel.
class ScaledDisplay : public RealDisplay {};

TEST_P(ScaledDisplay, ReadOutAndZoomTakeThePixelUnderThePointer) {
    XSession x(GetParam().windowManager, "2400x1800x24");
    ProgramUnderX p(x, underTest(), {}, {{"QT_SCALE_FACTOR", "2"}});
    p.click(C::cStar);
    ASSERT_TRUE(p.waitForPicture("M000.Bmp"));
    p.waitForIdle();
    const struct {
        int x, y;  // device pixel
        const char* readX;
        const char* readY;
    } spots[] = {
        {1200, 400, " 1.0000000000000", " 1.0000000000000"},
        {1201, 401, " 1.0000000000000", " 1.0000000000000"},
        {1203, 403, " 1.0050000000000", " 0.9950000000000"},
    };
    for (const auto& s : spots) {
        p.moveToDisplayPixel(s.x, s.y);
        EXPECT_EQ(p.box(C::tXX), s.readX) << s.x << ',' << s.y;
        EXPECT_EQ(p.box(C::tYY), s.readY) << s.x << ',' << s.y;
    }
    p.moveToDisplayPixel(201, 1401);
    x.run({"xdotool", "click", "1"});
    EXPECT_EQ(p.box(C::tXc), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tYc), "-1.5000000000000");
    EXPECT_EQ(p.box(C::tSc), "0.2000000000000");
}

INSTANTIATE_TEST_SUITE_P(Desks, ScaledDisplay,
                         ::testing::Values(Desk{"Bare", false}, Desk{"Openbox", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
