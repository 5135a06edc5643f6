// The size rule of a click on any size text: the box is left alone, or it
// gets a 15-character text "0." + the old first character + 12 more.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/readout.h"
#include "core/textnum.h"

namespace {

// Characters of UTF-8 text; a stray byte counts as one.
size_t characters(const std::string& s) {
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        n += (b & 0xC0) != 0x80;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto next = core::zoomSizeText(text);
    if (!next) {
        return 0;
    }
    if (next->rfind("0.", 0) != 0) {
        std::abort();
    }
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        if (next->size() != 15 || (*next)[2] != text[0]) {
            std::abort();
        }
        // The rule applies only to sizes from 1E-12 to 3 with a point second.
        const double s = core::textToNumber(text).value;
        if (text.size() < 2 || text[1] != '.' || !(s >= 1e-12 && s <= 3.0)) {
            std::abort();
        }
    } else if (characters(*next) > 15) {
        std::abort();
    }
    return 0;
}
