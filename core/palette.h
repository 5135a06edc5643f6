#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "colour.h"

namespace core {

// Turns the bytes of a palette file into colours as they stream past, so
// memory stays bounded whatever the file's size. Kept characters are 0-9
// and A-F (upper case); every other byte is dropped, and a Shift-JIS
// double-byte character is dropped whole, since its trail byte can look like
// A-F. Every six kept characters in a row form one BBGGRR colour; groups
// 0 to 24 fill the table, and every complete group is counted.
class PaletteParser {
public:
    explicit PaletteParser(ColTable& table) : table_(table) {}

    void feed(const char* data, size_t size);
    int32_t groups() const { return groups_; }
    int pendingDigits() const { return pendingDigits_; }

private:
    ColTable& table_;
    int32_t groups_ = 0;
    int32_t pendingValue_ = 0;  // hex digits of the group being built
    int pendingDigits_ = 0;     // 0 to 5
    bool trailNext_ = false;    // the previous byte led a double-byte character
};

// Reads the palette file at path into the table and returns the number of
// complete groups. A missing, unreadable or odd file fails nothing: what
// could be read is kept.
int32_t ReadColor(const std::string& path, ColTable& colTbl);

}  // namespace core
