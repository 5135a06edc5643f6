#include "ui/activation.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <cstdlib>

namespace ui {
namespace {

// The window that has the X input focus, or XCB_NONE when the server names
// none of its windows (no focus, or the focus follows the pointer).
xcb_window_t xFocus(xcb_connection_t* c) {
    xcb_get_input_focus_reply_t* reply =
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
    if (reply == nullptr) {
        return XCB_NONE;
    }
    const xcb_window_t focus = reply->focus;
    std::free(reply);
    return focus == XCB_INPUT_FOCUS_POINTER_ROOT ? XCB_NONE : focus;
}

}  // namespace

bool programIsActive() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 != nullptr && x11->connection() != nullptr) {
        const xcb_window_t focus = xFocus(x11->connection());
        if (focus != XCB_NONE) {
            for (const QWindow* window : QGuiApplication::topLevelWindows()) {
                if (window->isVisible() && window->handle() != nullptr &&
                    static_cast<xcb_window_t>(window->winId()) == focus) {
                    return true;
                }
            }
            return false;
        }
    }
    return QApplication::activeWindow() != nullptr;
}

}  // namespace ui
