#include "runclock.h"

#include "textnum.h"

namespace core {

int32_t runSeconds(float start, float now) {
    const float elapsed = now - start;  // single precision, as the clock keeps it
    // A difference of two readings of one day always fits; a broken clock
    // (not a number) counts as no time.
    int32_t seconds = toInt32(elapsed).value;
    if (seconds < 0) {
        seconds += 86400;  // the run crossed midnight
    }
    return seconds;
}

}  // namespace core
