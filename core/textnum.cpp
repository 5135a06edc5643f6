#include "textnum.h"

#include <locale.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace core {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// strtod under the "C" locale, so a user's decimal comma never applies.
double parseC(const std::string& s) {
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
    return strtod_l(s.c_str(), nullptr, cLocale);
}

template <class Int>
Outcome<Int> roundTo(double v) {
    // nearbyint rounds in the default mode, to nearest with halves to even.
    const double r = std::nearbyint(v);
    if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
          r <= static_cast<double>(std::numeric_limits<Int>::max()))) {
        return {0, kErrOverflow};
    }
    return {static_cast<Int>(r), 0};
}

}  // namespace

Outcome<double> textToNumber(std::string_view text) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }

    // The matched number, rewritten in the form strtod reads.
    std::string number;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            number += '-';
        }
        ++i;
    }
    bool anyDigit = false;
    bool point = false;
    for (; i < n; ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            anyDigit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
        number += c;
    }
    if (!anyDigit) {
        return {0.0, 0};
    }

    // An exponent counts only when at least one digit follows its letter.
    if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
        size_t j = i + 1;
        std::string exponent = "e";
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            exponent += text[j];
            ++j;
        }
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j])) {
                exponent += text[j];
                ++j;
            }
            number += exponent;
        }
    }

    const double v = parseC(number);
    if (std::isinf(v)) {
        return {0.0, kErrOverflow};
    }
    return {v, 0};
}

Outcome<int32_t> toInt32(double v) {
    return roundTo<int32_t>(v);
}

Outcome<int16_t> toInt16(double v) {
    return roundTo<int16_t>(v);
}

Outcome<int32_t> textToInt32(std::string_view text) {
    const Outcome<double> v = textToNumber(text);
    if (!v.ok()) {
        return {0, v.err};
    }
    return toInt32(v.value);
}

}  // namespace core
