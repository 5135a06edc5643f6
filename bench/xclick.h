#pragma once

#include <chrono>
#include <string>

namespace bench {

// Presses mouse button 1 where the pointer is on the display, then
// releases it: a push button acts on the release, so the moment returned,
// taken just before the release is sent, is when the click happens.
std::chrono::steady_clock::time_point clickWherePointerIs(const std::string& display);

}  // namespace bench
