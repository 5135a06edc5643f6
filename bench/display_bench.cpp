// A START on a real X server (Xvfb, with and without openbox), as a user
// meets it: the real executable, clicked through XTest, timed from the
// button's release to the saved file, median of 5, set against the one-point loop computing
// the same counts on one core in the same run. Then where the time of a
// START goes, in this process with the real windows and worker pool through
// the same kind of server: click to the first column, the columns, the
// refreshes of the screen, the save; and the user-interface thread's time
// on each column.
#include <sys/utsname.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "bench/start_support.h"
#include "bench/xclick.h"
#include "core/kernel.h"
#include "support/xsession.h"
#include "ui/qt_platform.h"

namespace {

using bench::Clock;
using testsupport::ProgramUnderX;
using testsupport::XSession;
using C = ProgramUnderX::Control;

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model, isa = "SSE4";
    while (std::getline(cpuinfo, line)) {
        if (model.empty() && line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
        }
        if (line.rfind("flags", 0) == 0) {
            isa = line.find(" avx512f") != std::string::npos ? "AVX-512"
                  : line.find(" avx2") != std::string::npos  ? "AVX2"
                                                             : "SSE4";
        }
    }
    return model + ", " + isa + ", " + std::to_string(std::thread::hardware_concurrency()) +
           " cores";
}

struct Scene {
    const char* name;
    const char *xc, *yc, *sc, *rep;
};

// Seconds the one-point loop takes for all counts of the view, one core.
double onePointLoop(const Scene& s) {
    const core::View view{std::stod(s.xc), std::stod(s.yc), std::stod(s.sc)};
    std::vector<int32_t> counts(801 * 801);
    const Clock::time_point t = Clock::now();
    core::referenceColumns(view, 4.0, std::stoi(s.rep), 0, 801, counts.data());
    return secondsSince(t);
}

// Median seconds from the click on START to the saved file, over 5 STARTs.
double clickToFile(const XSession& x, const Scene& s, std::vector<double>* all) {
    ProgramUnderX p(x, QUARLO_EXECUTABLE);
    p.setBox(C::tXc, s.xc);
    p.setBox(C::tYc, s.yc);
    p.setBox(C::tSc, s.sc);
    p.setBox(C::tRep, s.rep);
    for (int i = 0; i < 5; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "M%03d.Bmp", i);
        x.run({"xdotool", "mousemove", "--window", p.controlWindow(), "220", "56"});
        const Clock::time_point t = bench::clickWherePointerIs(x.display());
        if (!p.waitForPicture(name, std::chrono::seconds(120))) {
            std::fprintf(stderr, "no %s written\n", name);
            std::exit(1);
        }
        all->push_back(secondsSince(t));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return median(*all);
}

// The application, timing each repaint of a window (paint and flush to the
// server, all on the user-interface thread).
class TimingApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::UpdateRequest) {
            return QApplication::notify(receiver, event);
        }
        const Clock::time_point t = Clock::now();
        const bool done = QApplication::notify(receiver, event);
        refreshMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t).count());
        return done;
    }
    std::vector<double> refreshMs;
};

// Where the time of a START goes, in this process with the real windows,
// the real pool of workers and the real platform, through the server.
struct Phases {
    std::vector<double> toFirstColumn, columns, perColumn, refreshes, refreshMs, save, whole;
};

Phases phases(TimingApplication& app, const Scene& s, int runs) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "quarlo-dbench";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    bench::MarkingPlatform platform(folder.string());
    app::Program program(platform);
    program.start();
    program.setText(picture::Box::tXc, s.xc);
    program.setText(picture::Box::tYc, s.yc);
    program.setText(picture::Box::tSc, s.sc);
    program.setText(picture::Box::tRep, s.rep);
    QTest::qWait(300);
    Phases ph;
    auto ms = [](Clock::time_point a, Clock::time_point b) {
        return std::chrono::duration<double, std::milli>(b - a).count();
    };
    for (int r = 0; r < runs; ++r) {
        platform.marks.clear();
        app.refreshMs.clear();
        const Clock::time_point t = Clock::now();
        QTest::mouseClick(program.kest().cStar(), Qt::LeftButton);
        const Clock::time_point end = Clock::now();
        const auto& m = platform.marks;
        if (m.size() != 801) {
            std::fprintf(stderr, "%zu rounds of events in a run\n", m.size());
            std::exit(1);
        }
        ph.toFirstColumn.push_back(ms(t, m.front()));
        ph.columns.push_back(ms(m.front(), m.back()));
        const std::vector<double> iv = bench::intervalsMs(m);
        ph.perColumn.insert(ph.perColumn.end(), iv.begin(), iv.end());
        double refreshSum = 0;
        for (double v : app.refreshMs) {
            refreshSum += v;
        }
        ph.refreshes.push_back(static_cast<double>(app.refreshMs.size()));
        ph.refreshMs.push_back(refreshSum);
        ph.save.push_back(ms(m.back(), end));
        ph.whole.push_back(ms(t, end));
        QTest::qWait(100);
    }
    std::filesystem::remove_all(folder);
    return ph;
}

}  // namespace

int main() {
    std::printf("machine: %s\n", machine().c_str());
    const Scene scenes[] = {
        {"default", "0", "0", "2", "256"},
        {"inside-heavy", "-0.75", "0.1", "0.05", "10000"},
    };
    std::vector<double> loops;
    for (const Scene& s : scenes) {
        loops.push_back(onePointLoop(s));
    }
    for (bool wm : {false, true}) {
        XSession x(wm);
        for (size_t i = 0; i < std::size(scenes); ++i) {
            std::vector<double> all;
            const double start = clickToFile(x, scenes[i], &all);
            std::printf("X %-7s START %-13s median %7.3f s (of", wm ? "openbox" : "bare",
                        scenes[i].name, start);
            for (double t : all) {
                std::printf(" %.3f", t);
            }
            std::printf(")   one-point loop %7.3f s   START/loop %5.2fx   loop/START %6.1fx\n",
                        loops[i], start / loops[i], loops[i] / start);
        }
    }

    XSession x(false);
    qputenv("DISPLAY", x.display().c_str());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    int argc = 1;
    char name[] = "quarlo_display_bench";
    char* argv[] = {name, nullptr};
    TimingApplication application(argc, argv);
    for (const Scene& s : scenes) {
        Phases ph = phases(application, s, 9);
        std::vector<double> per = ph.perColumn;
        std::sort(per.begin(), per.end());
        std::printf(
            "X bare    phases %-13s medians of 9 STARTs in this process (ms): whole %.2f = "
            "click to first column %.2f + columns %.2f + save and reload %.2f; %.0f refreshes "
            "taking %.2f\n",
            s.name, median(ph.whole), median(ph.toFirstColumn), median(ph.columns),
            median(ph.save), median(ph.refreshes), median(ph.refreshMs));
        std::printf(
            "X bare    user-interface thread per column, %s view, real run: median %.4f ms, "
            "90th percentile %.4f ms over %zu columns\n",
            s.name, per[per.size() / 2], per[per.size() * 9 / 10], per.size());
    }
    return 0;
}
