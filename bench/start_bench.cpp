// A START end to end, with the real windows under the offscreen platform:
// the time from the click on START to the saved file, beside the time of
// computing the same counts alone and beside the same START driven by the
// one-point loop on one thread. Also the per-column overhead of a START
// (strip, events, painting: the counts cost nothing there), as a median over
// the 801 columns, and the peak resident memory of the process.
#include <sys/resource.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/program.h"
#include "bench/start_support.h"
#include "compute/kernel_count_source.h"
#include "compute/threaded_count_source.h"
#include "core/kernel.h"
#include "ui/qt_platform.h"

namespace {

using bench::Clock;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

struct Scene {
    const char* name;
    const char *xc, *yc, *sc, *rep;
};

// Seconds from the click on START to the saved and reloaded file.
double timeStart(const Scene& s, compute::CountSource* counts,
                 bench::MarkingPlatform** platformOut = nullptr) {
    static int runs = 0;
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("quarlo-bench-" + std::to_string(++runs)))
            .string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    auto* platform = new bench::MarkingPlatform(folder);
    auto* program = new app::Program(*platform, counts);
    program->start();
    program->setText(picture::Box::tXc, s.xc);
    program->setText(picture::Box::tYc, s.yc);
    program->setText(picture::Box::tSc, s.sc);
    program->setText(picture::Box::tRep, s.rep);
    QCoreApplication::processEvents();
    platform->marks.clear();
    const Clock::time_point t = Clock::now();
    QTest::mouseClick(program->kest().cStar(), Qt::LeftButton);
    const double elapsed = secondsSince(t);
    if (!std::filesystem::exists(folder + "/Bmp/M000.Bmp")) {
        std::fprintf(stderr, "no file written\n");
        std::exit(1);
    }
    std::filesystem::remove_all(folder);
    if (platformOut != nullptr) {
        *platformOut = platform;  // the caller reads the marks; both are left to the end
    }
    return elapsed;
}

double timeCountsAlone(const Scene& s, compute::CountSource& counts) {
    const core::View view{std::stod(s.xc), std::stod(s.yc), std::stod(s.sc)};
    std::vector<int32_t> column(801);
    const Clock::time_point t = Clock::now();
    counts.begin(view, 4.0, std::stoi(s.rep));
    for (int col = 0; col < 801; ++col) {
        counts.column(col, column.data());
    }
    return secondsSince(t);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);

    const Scene scenes[] = {
        {"default", "0", "0", "2", "256"},
        {"inside-heavy", "-0.75", "0.1", "0.05", "10000"},
    };
    compute::ThreadedCountSource threaded;
    compute::ReferenceCountSource reference;
    for (const Scene& s : scenes) {
        const double start = timeStart(s, &threaded);
        const double countsAlone = timeCountsAlone(s, threaded);
        const double referenceStart = timeStart(s, &reference);
        std::printf(
            "START %-13s %8.3f s   counts alone %8.3f s   reference START %8.3f s   "
            "reference/START %6.1fx\n",
            s.name, start, countsAlone, referenceStart, referenceStart / start);
    }

    bench::FreeCounts free;
    bench::MarkingPlatform* platform = nullptr;
    timeStart(scenes[0], &free, &platform);
    std::vector<double> perColumn = bench::intervalsMs(platform->marks);
    std::sort(perColumn.begin(), perColumn.end());
    std::printf(
        "per-column overhead (strip, events, painting), default view: median %.3f ms, "
        "90th percentile %.3f ms over %zu columns\n",
        perColumn[perColumn.size() / 2], perColumn[perColumn.size() * 9 / 10], perColumn.size());

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak resident memory of the process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    return 0;
}
