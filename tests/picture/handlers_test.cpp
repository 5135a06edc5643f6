// The handlers at their own layer: a small fake of the control window, the
// scripted platform, a real surface and real files in a temporary folder.
#include "picture/handlers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compute/kernel_count_source.h"
#include "compute/threaded_count_source.h"
#include "core/colour.h"
#include "core/kernel.h"
#include "core/readout.h"
#include "support/scripted_platform.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using picture::Box;
using testsupport::ProgramEnded;

const std::string kOverflow = "実行時エラー '6':\n\nオーバーフローしました。";
const std::string kComputeFault = "6 XX-YY 演算異常";
const char* kPalette = "0000FF\n00FF00\nFF0000\n00FFFF\nFF00FF\nFFFF00\n808080\n000080\n";

// The control window as the handlers see it. As with a real text box, a
// change of the colour-mode text runs its handler before setText returns,
// and setting the same text again changes nothing.
class FakeControls : public picture::Controls {
public:
    std::map<Box, std::string> texts;
    bool start = true;
    bool repLocked = false;
    bool display = false;
    int focusSizeCalls = 0;
    std::function<void()> onColourModeChanged;

    std::string text(Box box) const override {
        const auto it = texts.find(box);
        return it == texts.end() ? std::string() : it->second;
    }
    void setText(Box box, const std::string& text) override {
        const bool changed = this->text(box) != text;
        texts[box] = text;
        if (box == Box::tCol && changed && onColourModeChanged) {
            onColourModeChanged();
        }
    }
    bool startEnabled() const override { return start; }
    void setStartEnabled(bool enabled) override { start = enabled; }
    void setRepLocked(bool locked) override { repLocked = locked; }
    void focusSize() override { ++focusSizeCalls; }
    bool displayVisible() const override { return display; }
    void showDisplay() override { display = true; }
};

// Reference counts of a whole view, column-major.
std::vector<int32_t> referenceCounts(const core::View& view, int32_t rep) {
    std::vector<int32_t> counts(801 * 801);
    core::referenceColumns(view, 4.0, rep, 0, 801, counts.data());
    return counts;
}

// A started program without windows: the handlers over the fake.
struct Bench {
    explicit Bench(compute::CountSource* source = nullptr, const char* palette = kPalette) {
        platform.folder = dir.path();
        platform.clock = {100.0f};
        if (palette != nullptr) {
            dir.write("Color.Ini", palette);
        }
        handlers = std::make_unique<picture::Handlers>(platform, img, controls, w,
                                                       source != nullptr ? *source : kernel);
        controls.onColourModeChanged = [this] { handlers->colourModeChanged(); };
        handlers->startUp();
    }

    int files() const {
        return static_cast<int>(
            std::distance(fs::directory_iterator(dir.path() + "/Bmp"), fs::directory_iterator()));
    }
    QImage bmp(int i) const {
        char name[16];
        std::snprintf(name, sizeof name, "/Bmp/M%03d.Bmp", i);
        return QImage(QString::fromStdString(dir.path() + name));
    }

    // Checks the picture part of an image against counts coloured with rep
    // and mode, for the columns from..to.
    void expectPicture(const QImage& image, const std::vector<int32_t>& counts, int32_t rep,
                       int32_t mode, int from = 0, int to = 800) const {
        for (int col = from; col <= to; ++col) {
            for (int row = 0; row <= 800; ++row) {
                const int32_t c = counts[static_cast<size_t>(col) * 801 + row];
                ASSERT_EQ(image.pixel(col, row),
                          picture::Surface::toRgb(core::ColorOf(c, rep, mode, w.ColTbl)))
                    << col << ',' << row << " count " << c;
            }
        }
    }

    testsupport::TempDir dir;
    testsupport::ScriptedPlatform platform;
    picture::Surface img;
    picture::LibW w;
    FakeControls controls;
    compute::KernelCountSource kernel;
    std::unique_ptr<picture::Handlers> handlers;
};

TEST(StartUp, LeavesTheDefaultsAndWritesNoPicture) {
    Bench b(nullptr, "0000FF\n00FF00\n");
    const std::map<Box, std::string> expected = {
        {Box::tXc, "0.0000000000000"},
        {Box::tYc, "0.0000000000000"},
        {Box::tSc, "2.0000000000000"},
        {Box::tRep, "256"},
        {Box::tCol, "0"},
        {Box::tXX, ""},
        {Box::tYY, ""},
    };
    EXPECT_EQ(b.controls.texts, expected);
    EXPECT_FALSE(b.controls.display);
    EXPECT_EQ(b.w.EscLim, 4.0);
    EXPECT_EQ(b.w.ColTbl[0], 0xFF);
    EXPECT_EQ(b.w.ColTbl[1], 0xFF00);
    EXPECT_EQ(b.w.ColTbl[2], 0);
    EXPECT_TRUE(b.w.PicXc.empty() && b.w.PicYc.empty() && b.w.PicSc.empty());
    EXPECT_TRUE(fs::is_directory(b.dir.path() + "/Bmp"));
    EXPECT_EQ(b.files(), 0);
    EXPECT_TRUE(b.platform.messages.empty());
}

TEST(StartUp, ClearsTheCountsOfAnEarlierPicture) {
    Bench b;
    b.w.CntMap.set(3, 4, 99);
    b.handlers->startUp();
    EXPECT_EQ(b.w.CntMap.at(3, 4), 0);
}

TEST(StartUp, SecondStartLeavesTheFolderAndItsPicturesAlone) {
    Bench b;
    std::ofstream(b.dir.path() + "/Bmp/M000.Bmp") << "kept";
    b.handlers->startUp();
    EXPECT_TRUE(b.platform.messages.empty());
    EXPECT_EQ(fs::file_size(b.dir.path() + "/Bmp/M000.Bmp"), 4u);
}

TEST(StartUp, WithoutAPaletteOrAWritableFolderGoesOnSilently) {
    Bench b(nullptr, nullptr);
    EXPECT_EQ(b.w.ColTbl[0], 0);
    // Missing folders are made with their parents; a file in the path stops that.
    b.dir.write("plain", "x");
    b.platform.folder = b.dir.path() + "/plain/deeper";
    b.handlers->startUp();
    EXPECT_FALSE(fs::exists(b.platform.folder));
    EXPECT_TRUE(b.platform.messages.empty());
    EXPECT_EQ(b.controls.text(Box::tRep), "256");
}

TEST(StartUp, ColourChangeWhileHiddenDrawsNothing) {
    Bench b;
    const QImage before = b.img.image();
    b.controls.setText(Box::tCol, "7");
    EXPECT_EQ(b.controls.text(Box::tCol), "7");
    EXPECT_EQ(b.img.image(), before);
    EXPECT_EQ(b.files(), 0);
}

TEST(Run, DefaultRunStoresPaintsAndSaves) {
    Bench b;
    b.handlers->startClicked();
    const auto counts = referenceCounts({0.0, 0.0, 2.0}, 256);
    for (int col = 0; col <= 800; ++col) {
        for (int row = 0; row <= 800; ++row) {
            ASSERT_EQ(b.w.CntMap.at(col, row), counts[static_cast<size_t>(col) * 801 + row]);
        }
    }
    ASSERT_EQ(b.files(), 1);
    const QImage saved = b.bmp(0);
    b.expectPicture(saved, counts, 256, 0);
    EXPECT_EQ(saved, b.w.files.PicSaved);
    EXPECT_EQ(b.w.PicXc, "0.0000000000000");
    EXPECT_EQ(b.w.PicSc, "2.0000000000000");
    EXPECT_TRUE(b.controls.start);
    EXPECT_FALSE(b.controls.repLocked);
    EXPECT_TRUE(b.controls.display);
    EXPECT_EQ(b.controls.focusSizeCalls, 1);
    EXPECT_EQ(b.platform.eventRounds, 801);
}

TEST(Run, StripFollowsTheSweepColumnByColumn) {
    // At the events after column c the progress line runs from x = 0 to
    // x = c, and the strip shows the seconds since the run began.
    Bench b;
    b.controls.setText(Box::tRep, "16");
    b.platform.clock = {1000.0f};
    for (int c = 0; c <= 800; ++c) {
        b.platform.clock.push_back(1000.0f + static_cast<float>(c) * 0.25f);
    }
    int column = -1;
    std::vector<int32_t> runSecs;
    b.platform.onProcessEvents = [&] {
        ++column;
        const QImage& image = b.img.image();
        ASSERT_EQ(image.pixel(column, 802), qRgb(0, 0, 0)) << column;
        if (column < 800) {
            ASSERT_EQ(image.pixel(column + 1, 802), qRgb(255, 255, 255)) << column;
        }
        ASSERT_EQ(image.pixel(0, 802), qRgb(0, 0, 0)) << column;
        runSecs.push_back(b.w.RunSec);
    };
    b.handlers->startClicked();
    ASSERT_EQ(column, 800);
    // Column c reads the clock at 1000 + c/4: c/4 seconds, a half to even.
    const std::vector<int32_t> firstSecs(runSecs.begin(), runSecs.begin() + 11);
    EXPECT_EQ(firstSecs, (std::vector<int32_t>{0, 0, 0, 1, 1, 1, 2, 2, 2, 2, 2}));
    EXPECT_EQ(runSecs.back(), 200);
}

TEST(Run, ElapsedSecondsRoundHalvesToEvenAndCrossMidnight) {
    Bench b;
    const struct {
        float start, end;
        int32_t runSec;
    } rows[] = {{10.0f, 12.5f, 2}, {10.0f, 13.5f, 4}, {86390.0f, 20.0f, 30}, {5.0f, 5.0f, 0}};
    for (const auto& r : rows) {
        b.platform.clock = {r.start, r.end};
        b.handlers->startClicked();
        EXPECT_EQ(b.w.RunSec, r.runSec) << r.start << " to " << r.end;
    }
}

TEST(Run, WorkedExampleOfAZoom) {
    Bench b;
    b.handlers->startClicked();
    b.handlers->mouseMoved(100.0f, 700.0f);
    EXPECT_EQ(b.controls.text(Box::tXX), "-1.5000000000000");
    EXPECT_EQ(b.controls.text(Box::tYY), "-1.5000000000000");
    b.handlers->mouseMoved(600.0f, 200.0f);
    EXPECT_EQ(b.controls.text(Box::tXX), " 1.0000000000000");
    b.handlers->mouseMoved(100.0f, 700.0f);
    b.handlers->clicked();
    EXPECT_EQ(b.controls.text(Box::tXc), "-1.5000000000000");
    EXPECT_EQ(b.controls.text(Box::tYc), "-1.5000000000000");
    EXPECT_EQ(b.controls.text(Box::tSc), "0.2000000000000");

    const QImage& shown = b.img.image();
    const QImage& saved = b.w.files.PicSaved;
    EXPECT_EQ(shown.pixel(60, 660), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(140, 740), qRgb(255, 0, 0));
    EXPECT_EQ(shown.pixel(59, 659), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(141, 741), qRgb(0, 0, 0));
    EXPECT_EQ(shown.pixel(100, 700), saved.pixel(100, 700));  // inside untouched
    EXPECT_EQ(shown.pixel(61, 661), saved.pixel(61, 661));

    // A second click moves the mark: the first one is gone.
    b.handlers->mouseMoved(500.0f, 300.0f);
    b.handlers->clicked();
    EXPECT_EQ(b.img.image().pixel(60, 660), saved.pixel(60, 660));
    EXPECT_EQ(b.controls.text(Box::tSc), "0.2000000000000");  // read from the picture's size

    b.handlers->mouseMoved(100.0f, 700.0f);
    b.handlers->clicked();
    b.handlers->startClicked();
    b.expectPicture(b.bmp(1), referenceCounts({-1.5, -1.5, 0.2}, 256), 256, 0);
    EXPECT_EQ(b.w.PicSc, "0.2000000000000");
}

TEST(Run, EventsDuringARun) {
    Bench b;
    b.controls.setText(Box::tRep, "64");
    int column = -1;
    b.platform.onProcessEvents = [&] {
        if (++column != 50) {
            return;
        }
        b.handlers->mouseMoved(600.0f, 200.0f);
        EXPECT_EQ(b.controls.text(Box::tXX), " 1.0000000000000");
        b.handlers->clicked();
        EXPECT_EQ(b.controls.text(Box::tXc), "0.0000000000000");  // clicks change nothing
        EXPECT_FALSE(b.controls.start);
        EXPECT_TRUE(b.controls.repLocked);
        b.controls.setText(Box::tXc, "0.5");  // the running picture keeps its centre
        b.controls.setText(Box::tCol, "2");   // repaints and saves at once
        EXPECT_EQ(b.files(), 1);
    };
    b.handlers->startClicked();
    ASSERT_EQ(b.files(), 2);
    const auto counts = referenceCounts({0.0, 0.0, 2.0}, 64);
    const std::vector<int32_t> zeros(801 * 801, 0);
    // Mid-run file: the columns reached in mode 2, the rest still count 0.
    const QImage mid = b.bmp(0);
    b.expectPicture(mid, counts, 64, 2, 0, 50);
    b.expectPicture(mid, zeros, 64, 2, 51, 800);
    // The run goes on in its own mode.
    const QImage last = b.bmp(1);
    b.expectPicture(last, counts, 64, 2, 0, 50);
    b.expectPicture(last, counts, 64, 0, 51, 800);
    EXPECT_EQ(b.w.PicXc, "0.0000000000000");
}

TEST(Run, Recolouring) {
    Bench b;
    b.handlers->startClicked();
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
        b.controls.setText(Box::tCol, r.text);
        ++expectedFiles;  // one file per change, the corrected one included
        EXPECT_EQ(b.controls.text(Box::tCol), r.shown);
        ASSERT_EQ(b.files(), expectedFiles) << r.text;
        b.expectPicture(b.img.image(), counts, 256, r.mode);
    }

    // A smaller repeat count after the run colours the stored counts against it.
    b.controls.setText(Box::tRep, "100");
    b.controls.setText(Box::tCol, "2");
    b.expectPicture(b.img.image(), counts, 100, 2);
    const QImage two = b.img.image();
    b.controls.setText(Box::tCol, "0");
    b.controls.setText(Box::tCol, "2");
    EXPECT_EQ(b.img.image().copy(0, 0, 801, 801), two.copy(0, 0, 801, 801));
    EXPECT_EQ(b.w.CntMap.at(400, 400), 257);  // counts are never recomputed
}

TEST(Run, NumbersThatDoNotFitLeaveTheProgramAsItWas) {
    const struct {
        Box box;
        const char* text;
    } rows[] = {
        {Box::tRep, "1E400"}, {Box::tRep, "2147483647.5"}, {Box::tCol, "99999999999"},
        {Box::tXc, "1E400"},  {Box::tYc, "-1E400"},        {Box::tSc, "1D999"},
    };
    for (const auto& r : rows) {
        Bench b;
        b.controls.setText(r.box, r.text);
        b.handlers->startClicked();
        ASSERT_EQ(b.platform.messages, std::vector<std::string>{kOverflow}) << r.text;
        EXPECT_TRUE(b.controls.start);
        EXPECT_FALSE(b.controls.repLocked);
        EXPECT_FALSE(b.controls.display);
        EXPECT_TRUE(b.w.PicXc.empty());
        EXPECT_EQ(b.files(), 0);
        EXPECT_EQ(b.platform.eventRounds, 0);
    }

    // With the picture shown, a colour mode or repeat count that does not fit
    // repaints nothing and saves nothing.
    Bench b;
    b.handlers->startClicked();
    const QImage before = b.img.image();
    b.controls.setText(Box::tCol, "1E400");
    b.controls.setText(Box::tRep, "1E10");
    b.controls.setText(Box::tCol, "2");
    EXPECT_EQ(b.platform.messages, (std::vector<std::string>{kOverflow, kOverflow}));
    EXPECT_EQ(b.img.image(), before);
    EXPECT_EQ(b.files(), 1);
}

TEST(Run, ComputationFaultStopsAtTheSweepPixel) {
    // Rows near the bottom of column 0 escape at once; higher up |c|^2 leaves
    // the double range. The sweep paints up to the fault, then ends.
    Bench b;
    b.controls.setText(Box::tXc, "0");
    b.controls.setText(Box::tYc, "1.2E154");
    b.controls.setText(Box::tSc, "1.2E154");
    b.img.fillBox(0, 0, 800, 800, 0x00FF00);
    EXPECT_THROW(b.handlers->startClicked(), ProgramEnded);
    EXPECT_EQ(b.platform.messages, std::vector<std::string>{kComputeFault});
    EXPECT_EQ(b.files(), 0);

    std::vector<int32_t> ref(801);
    const core::SweepFault fault =
        core::referenceColumns({0.0, 1.2e154, 1.2e154}, 4.0, 256, 0, 1, ref.data());
    ASSERT_EQ(fault.col, 0);
    ASSERT_GT(fault.row, 0);
    ASSERT_LT(fault.row, 800);
    const QImage& shown = b.img.image();
    for (int row = 800; row > fault.row; --row) {
        EXPECT_EQ(shown.pixel(0, row), qRgb(255, 255, 255)) << row;  // count 0
        EXPECT_EQ(b.w.CntMap.at(0, row), 0) << row;
    }
    for (int row = fault.row; row >= 0; --row) {
        EXPECT_EQ(shown.pixel(0, row), qRgb(0, 255, 0)) << row;  // never reached
    }
    EXPECT_EQ(shown.pixel(1, 800), qRgb(0, 255, 0));
}

TEST(Run, HugeSizeFaultsAtTheFirstPixel) {
    Bench b;
    b.controls.setText(Box::tSc, "1E300");
    b.img.fillBox(0, 0, 800, 800, 0x00FF00);
    EXPECT_THROW(b.handlers->startClicked(), ProgramEnded);
    EXPECT_EQ(b.platform.messages, std::vector<std::string>{kComputeFault});
    EXPECT_EQ(b.img.image().pixel(0, 800), qRgb(0, 255, 0));  // nothing painted
    EXPECT_EQ(b.files(), 0);
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
    auto hashesAtEvents = [](compute::CountSource& counts) {
        Bench b(&counts);
        b.controls.setText(Box::tXc, "-0.75");
        b.controls.setText(Box::tYc, "0.1");
        b.controls.setText(Box::tSc, "0.05");
        b.controls.setText(Box::tRep, "1000");
        std::vector<uint64_t> hashes;
        b.platform.onProcessEvents = [&] { hashes.push_back(gridHash(b.w.CntMap)); };
        b.handlers->startClicked();
        b.handlers->startClicked();  // a second run over the first one's counts
        return hashes;
    };
    compute::KernelCountSource sequential;
    compute::ThreadedCountSource threaded(2);
    const std::vector<uint64_t> expected = hashesAtEvents(sequential);
    ASSERT_EQ(expected.size(), 2u * 801);
    EXPECT_EQ(hashesAtEvents(threaded), expected);
}

// Texts no box expects, and what each reads as: fitsNumber for the centre
// and size boxes, fitsInt32 for the repeat-count and colour-mode boxes.
struct BadText {
    const char* name;
    std::string text;
    bool fitsNumber;
    bool fitsInt32;
};

std::vector<BadText> badTexts() {
    return {
        {"empty", "", true, true},
        {"blanks", "   ", true, true},
        {"letters", "abc", true, true},  // no number: 0
        {"sign_alone", "-", true, true},
        {"point_alone", ".", true, true},
        {"plus_half", "+.5", true, true},  // 0.5, rounds to 0
        {"bare_exponent", "1e", true, true},
        {"huge", "1E400", false, false},
        {"huge_negative", "-1E400", false, false},
        {"tiny", "1E-400", true, true},  // 0
        {"half_past_int32", "2147483647.5", true, false},
        {"half_below_int32", "-2147483648.5", true, true},  // to the even -2147483648
        {"eleven_digits", "99999999999", true, false},
        {"hex_prefix", "&H10", true, true},                             // 0
        {"full_width_digits", "\xEF\xBC\x91\xEF\xBC\x92", true, true},  // 0
        {"ten_thousand_digits", "0." + std::string(9998, '1'), true, true},
        {"ten_thousand_letters", std::string(10000, 'x'), true, true},
        {"nul_inside",
         std::string("3\0"
                     "9",
                     3),
         true, true},
        {"line_break", "2\n5", true, true},
    };
}

// Each text in each box: START either runs and saves, or reports the
// overflow and changes nothing; then the same text in a recolouring.
// Slow (about a hundred pictures): labelled long.
TEST(BadInput, EveryTextBoxAndEveryTextStartsOrReports) {
    const Box boxes[] = {Box::tXc, Box::tYc, Box::tSc, Box::tRep, Box::tCol};
    for (Box box : boxes) {
        const bool integerBox = box == Box::tRep || box == Box::tCol;
        for (const BadText& t : badTexts()) {
            SCOPED_TRACE(testing::Message() << "box " << static_cast<int>(box) << ' ' << t.name);
            const bool fits = integerBox ? t.fitsInt32 : t.fitsNumber;
            Bench b;
            b.controls.setText(Box::tRep, "32");  // keeps each picture cheap
            b.controls.setText(box, t.text);
            ASSERT_NO_THROW(b.handlers->startClicked());
            EXPECT_TRUE(b.controls.start);
            EXPECT_FALSE(b.controls.repLocked);
            if (!fits) {
                EXPECT_EQ(b.platform.messages, std::vector<std::string>{kOverflow});
                EXPECT_EQ(b.files(), 0);
                EXPECT_FALSE(b.controls.display);
                continue;
            }
            EXPECT_TRUE(b.platform.messages.empty());
            ASSERT_EQ(b.files(), 1);

            // The same text in a recolouring: the repeat count it is read
            // against, or the colour mode itself.
            const Box recolourBox = box == Box::tCol ? Box::tCol : Box::tRep;
            b.controls.setText(Box::tCol, "2");
            const int before = b.files();
            b.platform.messages.clear();
            b.controls.setText(recolourBox, t.text);
            if (recolourBox == Box::tRep) {
                b.controls.setText(Box::tCol, "1");
            }
            if (!t.fitsInt32) {
                EXPECT_EQ(b.platform.messages, std::vector<std::string>{kOverflow});
                EXPECT_EQ(b.files(), before);
            } else {
                EXPECT_TRUE(b.platform.messages.empty());
                EXPECT_GT(b.files(), before);
            }
        }
    }
}

TEST(BadInput, ViewsAtTheEdgeOfTheDoubleRange) {
    const struct {
        const char* name;
        const char *xc, *yc, *sc;
        core::View view;  // as the texts read
        bool faults;
    } rows[] = {
        {"size_1e300", "0", "0", "1E300", {0.0, 0.0, 1e300}, true},
        {"centre_1e154", "1E154", "0", "2", {1e154, 0.0, 2.0}, false},
        {"centre_1e155", "1E155", "0", "2", {1e155, 0.0, 2.0}, true},
        {"centre_y_1e155", "0", "-1E155", "2", {0.0, -1e155, 2.0}, true},
        {"size_zero", "-2", "0", "0", {-2.0, 0.0, 0.0}, false},
        {"negative_size", "0", "0", "-2", {0.0, 0.0, -2.0}, false},
        {"largest_size",
         "0",
         "0",
         "1.7976931348623157E308",
         {0.0, 0.0, 1.7976931348623157e308},
         true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Bench b;
        b.controls.setText(Box::tRep, "32");
        b.controls.setText(Box::tXc, r.xc);
        b.controls.setText(Box::tYc, r.yc);
        b.controls.setText(Box::tSc, r.sc);
        if (r.faults) {
            EXPECT_THROW(b.handlers->startClicked(), ProgramEnded);
            EXPECT_EQ(b.platform.messages, std::vector<std::string>{kComputeFault});
            EXPECT_EQ(b.files(), 0);
            continue;
        }
        b.handlers->startClicked();
        EXPECT_EQ(b.files(), 1);
        const std::vector<int32_t> expected = referenceCounts(r.view, 32);
        for (int col = 0; col <= 800; col += 40) {
            for (int row = 0; row <= 800; row += 40) {
                ASSERT_EQ(b.w.CntMap.at(col, row), expected[static_cast<size_t>(col) * 801 + row]);
            }
        }
    }
}

TEST(BadInput, PointerAnywhere) {
    Bench b;
    b.controls.setText(Box::tRep, "32");
    b.handlers->startClicked();
    // The read-out of x on the default view (centre 0, size 2): (x - 400) / 200.
    const struct {
        float x, y;
        const char* readout;  // nullptr: the overflow report
    } moves[] = {
        {-5.0f, -5.0f, "-2.0250000000000"},      {900.0f, 900.0f, " 2.5000000000000"},
        {400.0f, 815.0f, " 0.0000000000000"},    {0.0f, 0.0f, "-2.0000000000000"},
        {800.0f, 820.0f, " 2.0000000000000"},    {1e6f, 1e6f, nullptr},
        {-32768.4f, 0.0f, "-165.8419921875000"}, {32767.6f, 0.0f, nullptr},
    };
    for (const auto& m : moves) {
        SCOPED_TRACE(testing::Message() << m.x << ',' << m.y);
        b.platform.messages.clear();
        b.controls.setText(Box::tXX, "unchanged");
        b.handlers->mouseMoved(m.x, m.y);
        if (m.readout != nullptr) {
            EXPECT_TRUE(b.platform.messages.empty());
            EXPECT_EQ(b.controls.text(Box::tXX), m.readout);
        } else {
            EXPECT_EQ(b.platform.messages, std::vector<std::string>{kOverflow});
            EXPECT_EQ(b.controls.text(Box::tXX), "unchanged");
        }
    }
    // Clicks at the corners of the surface: the marks are clipped.
    for (QPoint p : {QPoint(0, 0), QPoint(800, 820)}) {
        b.handlers->mouseMoved(static_cast<float>(p.x()), static_cast<float>(p.y()));
        b.handlers->clicked();
        EXPECT_EQ(b.controls.text(Box::tXc), b.controls.text(Box::tXX));
        EXPECT_EQ(b.img.image().pixel(p.x(), p.y()), b.w.files.PicSaved.pixel(p.x(), p.y()));
    }
    EXPECT_EQ(b.controls.text(Box::tYc), "-2.1000000000000");  // below the picture
    b.handlers->startClicked();  // and the view below the picture renders
    EXPECT_EQ(b.files(), 2);
}

}  // namespace
