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
};

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
