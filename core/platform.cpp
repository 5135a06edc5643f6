#include "platform.h"

#include <cstdlib>

#include "numfmt.h"

namespace core {

void Platform::processEventsUntil(const std::function<bool()>& done) {
    while (!done()) {
    }
}

void reportAndEnd(Platform& platform, int err, const std::string& fixedText) {
    platform.messageBox(formatHashes(err) + fixedText);
    platform.endProgram();
    std::abort();  // endProgram never returns; this keeps the promise if one did
}

}  // namespace core
