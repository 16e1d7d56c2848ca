// Size and placement of a display window, from the work area, the screen size
// and the request's divisors. Plain arithmetic, no platform calls.
#pragma once

#include <cstdint>

namespace zevosd {

inline constexpr std::uint32_t kMaxPosition = 8;
inline constexpr std::uint32_t kDefaultWidthDivisor = 30;

struct WorkArea {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

// GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN); either may be 0.
struct ScreenSize {
  std::int32_t cx;
  std::int32_t cy;
};

struct Size {
  std::int32_t cx;
  std::int32_t cy;
};

struct Point {
  std::int32_t x;
  std::int32_t y;
};

// A request is displayable when the height divisor is not 0 and the position
// is 0 to 8 (compared unsigned).
bool IsDisplayable(std::uint32_t position, std::uint32_t heightDivisor);

// 0 asks for the default width divisor.
std::uint32_t EffectiveWidthDivisor(std::uint32_t widthDivisor);

// Initial window size before the view measures its content. Needs a
// displayable request and the effective width divisor. The divisions are
// unsigned. Positions 2 and 7 use the screen size when both metrics are
// non-zero; position 7 on a portrait screen scales the work-area height to the
// screen width instead.
Size InitialSize(std::uint32_t position, std::uint32_t heightDivisor, std::uint32_t widthDivisor,
                 const WorkArea& work, const ScreenSize& screen);

// Top-left corner of a window of the given size at a position 0 to 8.
// Positions 0 to 3 and 6 use the screen origin on the axes they pin;
// positions 2 and 7 align to the screen width, the others to the work area.
Point Placement(std::uint32_t position, const Size& window, const WorkArea& work, std::int32_t screenWidth);

}  // namespace zevosd
