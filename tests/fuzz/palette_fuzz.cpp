// The palette parser on any bytes: every complete group of six kept
// characters is counted, the table takes at most 25 of them, and how the
// bytes are split into reads changes nothing.
#include <cstdint>
#include <cstdlib>

#include "core/palette.h"

namespace {

// An independent count of the kept characters: 0-9 and A-F, with a
// Shift-JIS lead byte taking a valid trail byte along with it.
size_t keptCharacters(const uint8_t* data, size_t size) {
    size_t kept = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        if (lead) {
            if (i + 1 < size) {
                const uint8_t t = data[i + 1];
                if ((t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC)) {
                    ++i;
                }
            }
            continue;
        }
        kept += (b >= '0' && b <= '9') || (b >= 'A' && b <= 'F');
    }
    return kept;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    core::ColTable whole{};
    core::PaletteParser a(whole);
    a.feed(reinterpret_cast<const char*>(data), size);

    const size_t kept = keptCharacters(data, size);
    if (static_cast<size_t>(a.groups()) != kept / 6 ||
        static_cast<size_t>(a.pendingDigits()) != kept % 6) {
        std::abort();
    }
    for (int32_t c : whole) {
        if (c < 0 || c > 0xFFFFFF) {
            std::abort();
        }
    }

    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    core::ColTable split{};
    core::PaletteParser b(split);
    b.feed(reinterpret_cast<const char*>(data), cut);
    b.feed(reinterpret_cast<const char*>(data) + cut, size - cut);
    if (b.groups() != a.groups() || split != whole) {
        std::abort();
    }
    return 0;
}
