#include "numfmt.h"

#include <locale.h>
#include <clocale>
#include <cstdio>
#include <string>

namespace core {
namespace {

// The C library formats with the thread's locale; a desktop set to a comma
// decimal would write "-1,5". Formats under the C locale for the duration.
class CNumbers {
public:
    CNumbers() {
        static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});
        previous_ = uselocale(cLocale);
    }
    ~CNumbers() { uselocale(previous_); }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    locale_t previous_;
};

}  // namespace

std::string formatHashes(int64_t v) {
    return v == 0 ? std::string() : std::to_string(v);
}

std::string formatAtLeastOneDigit(int64_t v) {
    return std::to_string(v);
}

std::string formatThreeDigits(int64_t v) {
    char buf[32];
    const CNumbers c;
    std::snprintf(buf, sizeof buf, "%03lld", static_cast<long long>(v));
    return buf;
}

std::string formatFixed13(double v) {
    if (v == 0.0) {
        v = 0.0;  // a negative zero shows without its sign
    }
    // glibc rounds the exact binary value correctly, halves to even.
    const CNumbers c;
    const int len = std::snprintf(nullptr, 0, "%.13f", v);
    std::string out(static_cast<size_t>(len), '\0');
    std::snprintf(out.data(), out.size() + 1, "%.13f", v);
    return out;
}

}  // namespace core
