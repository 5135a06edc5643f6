#pragma once

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
};

}  // namespace ui
