#pragma once

#include <QtGlobal>
#include <string>

#include "core/platform.h"

namespace ui {

// Where a build of the program keeps its pictures and reads its palette.
// The build decides (CMake option QUARLO_SYSTEM_INSTALL), never whether a
// folder happens to be writable: root can write /usr/bin, and the program
// must not.
enum class Layout {
    Portable,  // beside the executable: Bmp/ and Color.Ini
    System,    // the user's pictures folder, the user's palette or the shipped one
};

Layout builtLayout();

struct Places {
    std::string pictureFolder;
    std::string palettePath;
    bool operator==(const Places&) const = default;
};

// The places of a layout, as the executable's folder and the user's folders
// (HOME, XDG_CONFIG_HOME, the pictures entry of user-dirs.dirs) are now.
// Needs a QCoreApplication.
Places placesFor(Layout layout);

// The platform services on Qt: the places of the built layout, taken once
// when it is made; the local clock; Qt's event loop and a modal QMessageBox
// captioned "Quarlo".
class QtPlatform : public core::Platform {
public:
    QtPlatform();
    std::string pictureFolder() const override { return places_.pictureFolder; }
    std::string palettePath() const override { return places_.palettePath; }
    float secondsSinceMidnight() const override;
    std::string dateText() const override;
    std::string timeText() const override;
    void processEvents() override;
    void processEventsUntil(const std::function<bool()>& done) override;
    void messageBox(const std::string& text) override;
    [[noreturn]] void endProgram() override;

private:
    // The local time at the last reading's whole second. Local time is
    // worked out at most once a second: each conversion asks the C library,
    // which looks at the time zone file every time, and a run reads the
    // clock after every column.
    struct Second {
        qint64 sinceEpoch = -1;     // seconds
        int msecsSinceMidnight = 0;  // local, at the start of that second
        std::string date, time;      // "yyyy/MM/dd", "H:mm:ss"
    };
    const Second& localSecond(qint64 msecsSinceEpoch) const;

    mutable Second second_;
    Places places_;
};

}  // namespace ui
