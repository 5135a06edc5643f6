#pragma once

namespace ui {

// Whether one of this program's windows has the keyboard now. On X it asks
// the server: Qt hears that another program was activated only some time
// later, and a window activated in between would take the keyboard back.
// Elsewhere, and where the server names no window, Qt's own view.
bool programIsActive();

}  // namespace ui
