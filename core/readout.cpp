#include "readout.h"

#include "numfmt.h"
#include "textnum.h"

namespace core {
namespace {

// UTF-8 to code points; a byte that starts no valid sequence stands for
// itself as one character, so every byte belongs to exactly one character.
std::u32string decode(std::string_view s) {
    std::u32string out;
    size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        bool valid = len != 0 && i + len <= s.size();
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (size_t k = 1; valid && k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            valid = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!valid) {
            out += static_cast<char32_t>(0xDC00 + b);  // keeps the raw byte
            i += 1;
            continue;
        }
        out += cp;
        i += len;
    }
    return out;
}

std::string encode(const std::u32string& s) {
    std::string out;
    for (char32_t cp : s) {
        if (cp >= 0xDC80 && cp <= 0xDCFF) {
            out += static_cast<char>(cp - 0xDC00);  // a raw byte goes back as it came
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::string readoutText(double v) {
    const std::string f = formatFixed13(v);
    return f.size() >= 16 ? f : " " + f;
}

std::optional<std::string> zoomSizeText(std::string_view picSc) {
    std::u32string s = decode(picSc);
    if (s.size() < 2 || s[1] != U'.') {
        return std::nullopt;
    }
    const Outcome<double> size = textToNumber(picSc);
    if (!size.ok() || !(size.value >= 1e-12) || !(size.value <= 3.0)) {
        return std::nullopt;
    }
    s += U"0000000000000";
    s.resize(16);
    return "0." + encode(s.substr(0, 1)) + encode(s.substr(2, 12));
}

}  // namespace core
