#include "support/scripted_platform.h"

namespace testsupport {

float ScriptedPlatform::secondsSinceMidnight() const {
    if (!clock.empty()) {
        lastClock_ = clock.front();
        if (clock.size() > 1) {
            clock.pop_front();
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
