#pragma once

namespace core {

// The face every control and the picture surface name, and the installed
// face with the same metrics that stands in for it (12 pt: 16-pixel lines,
// half-width characters 8 pixels wide).
inline constexpr const char* kFaceName = "ＭＳ ゴシック";
inline constexpr const char* kStandInFace = "IPAGothic";
inline constexpr int kFacePixels = 16;  // 12 pt at 96 dpi

}  // namespace core
