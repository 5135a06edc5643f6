// The real program on a real X server, bare and under a window manager,
// driven as a user drives it: where keys go, which window is active, what a
// comma-decimal desktop and Qt's own options do. Each row starts its own
// server (and openbox) and its own program in a scratch folder.
#include <gtest/gtest.h>
#include <locale.h>

#include <cstdlib>
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

// A view that keeps a START busy for a good part of a second.
void setLongView(const ProgramUnderX& p) {
    p.setBox(C::tXc, "-0.75");
    p.setBox(C::tYc, "0.1");
    p.setBox(C::tSc, "0.05");
    p.setBox(C::tRep, "10000");
}

TEST_P(RealDisplay, KeyDuringRunChangesNoBoxAndWritesNoFile) {
    XSession x(GetParam().windowManager);
    ProgramUnderX p(x, underTest());
    setLongView(p);
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

INSTANTIATE_TEST_SUITE_P(Desks, RealDisplay,
                         ::testing::Values(Desk{"Bare", false}, Desk{"Openbox", true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
