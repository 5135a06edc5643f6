// Apart from the Qt code: Xlib's macros clash with Qt's names.
#include "bench/xclick.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <stdexcept>
#include <thread>

namespace bench {

std::chrono::steady_clock::time_point clickWherePointerIs(const std::string& display) {
    Display* d = XOpenDisplay(display.c_str());
    if (d == nullptr) {
        throw std::runtime_error("cannot open display " + display);
    }
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));  // a hand's press
    const auto t = std::chrono::steady_clock::now();
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
    XCloseDisplay(d);
    return t;
}

}  // namespace bench
