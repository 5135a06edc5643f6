#include "support/scripted_platform.h"

namespace testsupport {

float ScriptedPlatform::secondsSinceMidnight() const {
    auto& script = const_cast<std::deque<float>&>(clock);
    if (!script.empty()) {
        lastClock_ = script.front();
        if (script.size() > 1) {
            script.pop_front();
        }
    }
    return lastClock_;
}

void ScriptedPlatform::processEvents() {
    ++eventRounds;
    if (onProcessEvents) {
        onProcessEvents();
    }
}

void ScriptedPlatform::endProgram() {
    ended = true;
    throw ProgramEnded();
}

}  // namespace testsupport
