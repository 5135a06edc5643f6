#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <QTest>
#include <filesystem>
#include <fstream>

#include "app/program.h"
#include "core/esccount.h"
#include "core/kernel.h"
#include "core/readout.h"
#include "core/textnum.h"
#include "support/scripted_platform.h"
#include "support/tempdir.h"

namespace {

namespace fs = std::filesystem;
using picture::Box;
using testsupport::ProgramEnded;

const std::string kOverflow = "実行時エラー '6':\n\nオーバーフローしました。";

struct Fixture {
    testsupport::TempDir dir;
    testsupport::ScriptedPlatform platform;
    std::unique_ptr<app::Program> program;

    Fixture() {
        platform.folder = dir.path();
        program = std::make_unique<app::Program>(platform);
        program->start();
        program->setText(Box::tRep, "32");  // keeps each picture cheap
    }
    int files() const {
        return static_cast<int>(
            std::distance(fs::directory_iterator(dir.path() + "/Bmp"), fs::directory_iterator()));
    }
    bool fits(Box box) const {
        const std::string t = program->text(box);
        return box == Box::tRep || box == Box::tCol ? core::textToInt32(t).ok()
                                                    : core::textToNumber(t).ok();
    }
};

std::vector<std::string> badTexts() {
    return {"",
            "   ",
            "abc",
            "-",
            ".",
            "+.5",
            "1e",
            "1E400",
            "-1E400",
            "1E-400",
            "2147483647.5",
            "-2147483648.5",
            "99999999999",
            "&H10",
            "\xEF\xBC\x91\xEF\xBC\x92",  // full-width 12
            "0." + std::string(9998, '1'),
            std::string(10000, 'x'),
            std::string("3\0"
                        "9",
                        3),
            "2\n5"};
}

TEST(BadInput, EveryTextBoxAndEveryTextStartsOrReports) {
    const Box boxes[] = {Box::tXc, Box::tYc, Box::tSc, Box::tRep, Box::tCol};
    for (Box box : boxes) {
        for (const std::string& text : badTexts()) {
            SCOPED_TRACE(testing::Message() << "box " << static_cast<int>(box) << " text \""
                                            << text.substr(0, 20) << '"');
            Fixture f;
            f.program->setText(box, text);
            const bool fits = f.fits(Box::tXc) && f.fits(Box::tYc) && f.fits(Box::tSc) &&
                              f.fits(Box::tRep) && f.fits(Box::tCol);
            ASSERT_NO_THROW(f.program->handlers().startClicked());
            EXPECT_TRUE(f.program->startEnabled());
            EXPECT_FALSE(f.program->kest().tRep()->isReadOnly());
            if (!fits) {
                EXPECT_EQ(f.platform.messages, std::vector<std::string>{kOverflow});
                EXPECT_EQ(f.files(), 0);
                EXPECT_FALSE(f.program->displayVisible());
                continue;
            }
            EXPECT_TRUE(f.platform.messages.empty());
            ASSERT_EQ(f.files(), 1);

            // The same text in a recolouring: the repeat count it is read
            // against, or the colour mode itself.
            f.platform.messages.clear();
            const Box recolourBox = box == Box::tCol ? Box::tCol : Box::tRep;
            f.program->setText(Box::tCol, "2");
            const int before = f.files();
            f.program->setText(recolourBox, text);
            if (recolourBox == Box::tRep) {
                f.program->setText(Box::tCol, "1");
            }
            if (!f.fits(recolourBox)) {
                EXPECT_EQ(f.platform.messages, std::vector<std::string>{kOverflow});
                EXPECT_EQ(f.files(), before);
            } else {
                EXPECT_TRUE(f.platform.messages.empty());
                EXPECT_GT(f.files(), before);
            }
        }
    }
}

TEST(BadInput, ViewsAtTheEdgeOfTheDoubleRange) {
    const struct {
        const char* name;
        const char *xc, *yc, *sc;
        bool faults;
    } rows[] = {
        {"size_1e300", "0", "0", "1E300", true},
        {"centre_1e154", "1E154", "0", "2", false},
        {"centre_1e155", "1E155", "0", "2", true},
        {"centre_y_1e155", "0", "-1E155", "2", true},
        {"size_zero", "-2", "0", "0", false},
        {"negative_size", "0", "0", "-2", false},
        {"largest_size", "0", "0", "1.7976931348623157E308", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Fixture f;
        f.program->setText(Box::tXc, r.xc);
        f.program->setText(Box::tYc, r.yc);
        f.program->setText(Box::tSc, r.sc);
        if (r.faults) {
            EXPECT_THROW(f.program->handlers().startClicked(), ProgramEnded);
            EXPECT_EQ(f.platform.messages, std::vector<std::string>{"6 XX-YY 演算異常"});
            EXPECT_EQ(f.files(), 0);
            continue;
        }
        f.program->handlers().startClicked();
        EXPECT_EQ(f.files(), 1);
        const core::View view{core::textToNumber(r.xc).value, core::textToNumber(r.yc).value,
                              core::textToNumber(r.sc).value};
        std::vector<int32_t> expected(801 * 801);
        core::referenceColumns(view, 4.0, 32, 0, 801, expected.data());
        for (int col = 0; col <= 800; col += 40) {
            for (int row = 0; row <= 800; row += 40) {
                ASSERT_EQ(f.program->libw().CntMap.at(col, row),
                          expected[static_cast<size_t>(col) * 801 + row]);
            }
        }
    }
}

TEST(BadInput, PointerAnywhere) {
    Fixture f;
    f.program->handlers().startClicked();
    const struct {
        float x, y;
        bool fits;
    } moves[] = {{-5.0f, -5.0f, true},    {900.0f, 900.0f, true}, {400.0f, 815.0f, true},
                 {0.0f, 0.0f, true},      {800.0f, 820.0f, true}, {1e6f, 1e6f, false},
                 {-32768.4f, 0.0f, true}, {32767.6f, 0.0f, false}};
    for (const auto& m : moves) {
        f.platform.messages.clear();
        f.program->handlers().mouseMoved(m.x, m.y);
        if (m.fits) {
            EXPECT_TRUE(f.platform.messages.empty()) << m.x << ',' << m.y;
            EXPECT_EQ(f.program->text(Box::tXX),
                      core::readoutText(core::pointerX(m.x, {0.0, 0.0, 2.0})));
        } else {
            EXPECT_EQ(f.platform.messages, std::vector<std::string>{kOverflow});
        }
    }
    // Clicks at the corners of the surface: the marks are clipped.
    for (QPoint p : {QPoint(0, 0), QPoint(800, 820)}) {
        f.program->handlers().mouseMoved(static_cast<float>(p.x()), static_cast<float>(p.y()));
        f.program->handlers().clicked();
        EXPECT_EQ(f.program->text(Box::tXc), f.program->text(Box::tXX));
        EXPECT_EQ(f.program->img().image().pixel(p.x(), p.y()),
                  f.program->libw().files.PicSaved.pixel(p.x(), p.y()));
    }
    EXPECT_EQ(f.program->text(Box::tYc), "-2.1000000000000");  // below the picture
    f.program->handlers().startClicked();  // and the view below the picture renders
    EXPECT_EQ(f.files(), 2);
}

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes the allocator has handed out and not had back. Unlike resident
// memory, it does not move when the allocator keeps freed pages or spreads
// work over more arenas, as it does when threads are scheduled differently
// on a busy machine.
long heapInUseKiB() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>((m.uordblks + m.hblkhd) / 1024);
}

int openFiles() {
    return static_cast<int>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(Soak, ThirtyRunsWithARecolouringEach) {
    // The first runs fill caches (fonts, the worker pool, the allocator's
    // arenas); from the tenth run on, memory stays level. A picture kept
    // per run (2.5 MiB as 801 x 821 x 4 bytes) adds 50 MiB over the last
    // twenty runs, well past either allowance.
    const long kHeapAllowanceKiB = 4 * 1024;
    const long kResidentAllowanceKiB = 16 * 1024;
    Fixture f;
    f.program->setText(Box::tRep, "64");
    long residentAtTenth = 0;
    long heapAtTenth = 0;
    int filesAfterFirst = 0;
    for (int run = 0; run < 30; ++run) {
        // Zoom towards a point of the boundary, back out now and then.
        const float x = 300.0f + static_cast<float>((run * 37) % 200);
        const float y = 250.0f + static_cast<float>((run * 53) % 300);
        if (run % 10 == 9) {
            f.program->setText(Box::tXc, "0");
            f.program->setText(Box::tYc, "0");
            f.program->setText(Box::tSc, "2");
        } else if (run > 0) {
            f.program->handlers().mouseMoved(x, y);
            f.program->handlers().clicked();
        }
        f.program->handlers().startClicked();
        f.program->setText(Box::tCol, std::to_string(run % 4 + 1));  // always a change
        if (run == 0) {
            filesAfterFirst = openFiles();
        }
        if (run == 9) {
            residentAtTenth = residentKiB();
            heapAtTenth = heapInUseKiB();
        }
    }
    EXPECT_TRUE(f.platform.messages.empty());
    ASSERT_EQ(f.files(), 60);
    for (int i = 0; i < 60; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/Bmp/M%03d.Bmp", i);
        EXPECT_TRUE(fs::is_regular_file(f.dir.path() + name)) << name;
    }
#ifndef __SANITIZE_ADDRESS__
    // AddressSanitizer keeps freed memory back on purpose and counts its own
    // way; it finds leaks itself.
    EXPECT_LE(heapInUseKiB(), heapAtTenth + kHeapAllowanceKiB);
    EXPECT_LE(residentKiB(), residentAtTenth + kResidentAllowanceKiB);
#endif
    EXPECT_EQ(openFiles(), filesAfterFirst);
}

}  // namespace
