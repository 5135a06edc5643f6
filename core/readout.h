#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace core {

// The read-out of a plane coordinate: "#0.0000000000000" with a blank in
// front, 16 characters. A value whose own text is longer than 15 characters
// (at or below -10, at or above 100) shows whole rather than losing its sign
// or leading digits.
std::string readoutText(double v);

// The size text of the next view after a click: with one character before
// the point and a value from 1E-12 to 3, "0.", that character and the first
// 12 decimals (padded with zeros), 15 characters in all. Otherwise nothing:
// the size box is left alone. Counts characters, not bytes.
std::optional<std::string> zoomSizeText(std::string_view picSc);

}  // namespace core
