#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/platform.h"

namespace testsupport {

// Thrown by ScriptedPlatform::endProgram, so a test sees where the program
// would have ended.
struct ProgramEnded : std::runtime_error {
    ProgramEnded() : std::runtime_error("program ended") {}
};

// A platform whose clock, dates and events a test controls, and whose
// message boxes and ending are recorded.
class ScriptedPlatform : public core::Platform {
public:
    std::string folder = ".";         // a program folder laid out as the portable build has it
    mutable std::deque<float> clock;  // each reading takes the next value; the last one stays
    std::string date = "2026/12/07";
    std::string time = "4:05:06";
    std::function<void()> onProcessEvents;
    std::vector<std::string> messages;
    int eventRounds = 0;
    bool ended = false;

    std::string pictureFolder() const override { return folder + "/Bmp"; }
    std::string palettePath() const override { return folder + "/Color.Ini"; }
    float secondsSinceMidnight() const override;
    std::string dateText() const override { return date; }
    std::string timeText() const override { return time; }
    void processEvents() override;
    void messageBox(const std::string& text) override { messages.push_back(text); }
    [[noreturn]] void endProgram() override;

private:
    mutable float lastClock_ = 0.0f;
};

}  // namespace testsupport
