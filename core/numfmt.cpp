#include "numfmt.h"

#include <cstdio>
#include <string>

namespace core {

std::string formatHashes(int64_t v) {
    return v == 0 ? std::string() : std::to_string(v);
}

std::string formatAtLeastOneDigit(int64_t v) {
    return std::to_string(v);
}

std::string formatThreeDigits(int64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%03lld", static_cast<long long>(v));
    return buf;
}

std::string formatFixed13(double v) {
    if (v == 0.0) {
        v = 0.0;  // a negative zero shows without its sign
    }
    // glibc rounds the exact binary value correctly, halves to even.
    const int len = std::snprintf(nullptr, 0, "%.13f", v);
    std::string out(static_cast<size_t>(len), '\0');
    std::snprintf(out.data(), out.size() + 1, "%.13f", v);
    return out;
}

}  // namespace core
