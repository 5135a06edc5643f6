#pragma once

#include <array>
#include <cstdint>

namespace core {

// Colour values are 0x00BBGGRR: red in the low byte.
inline constexpr int32_t kWhite = 0xFFFFFF;
inline constexpr int32_t kBlack = 0;

// The palette: 25 entries, mode 0 draws entries 0 to 23.
inline constexpr int kColTblSize = 25;
using ColTable = std::array<int32_t, kColTblSize>;

// Colour of one escape count read against rep under a colour mode. Modes
// other than 0 to 3 take the 512-colour rule of mode 4. A count equal to
// rep takes the top level, so rep = 1 never divides by zero; the level is
// worked out in 64 bits, so no count overflows.
int32_t ColorOf(int32_t count, int32_t rep, int32_t mode, const ColTable& colTbl);

}  // namespace core
