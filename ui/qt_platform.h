#pragma once

#include <QtGlobal>
#include <string>

#include "core/platform.h"

namespace ui {

// The platform services on Qt: the executable's folder, the local clock,
// Qt's event loop and a modal QMessageBox captioned "Quarlo".
class QtPlatform : public core::Platform {
public:
    std::string programFolder() const override;
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
};

}  // namespace ui
