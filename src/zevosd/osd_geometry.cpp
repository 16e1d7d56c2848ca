#include "osd_geometry.h"

namespace zevosd {

bool IsDisplayable(std::uint32_t position, std::uint32_t heightDivisor) {
  return heightDivisor != 0 && position <= kMaxPosition;
}

std::uint32_t EffectiveWidthDivisor(std::uint32_t widthDivisor) {
  return widthDivisor == 0 ? kDefaultWidthDivisor : widthDivisor;
}

Size InitialSize(std::uint32_t position, std::uint32_t heightDivisor, std::uint32_t widthDivisor,
                 const WorkArea& work, const ScreenSize& screen) {
  const std::int32_t workW = work.right - work.left;
  const std::int32_t workH = work.bottom - work.top;
  std::uint32_t width = static_cast<std::uint32_t>(workW) / widthDivisor;
  std::uint32_t height = static_cast<std::uint32_t>(workH) / heightDivisor;

  if ((position == 2 || position == 7) && screen.cx != 0 && screen.cy != 0) {
    width = static_cast<std::uint32_t>(screen.cx) / widthDivisor;
    height = static_cast<std::uint32_t>(screen.cy) / heightDivisor;
  }
  if (position == 7 && screen.cy > screen.cx && workW > 0 && workH > 0) {
    // Portrait: the height the work area would have at the screen's width.
    // 64-bit, so that a large divisor can neither wrap the product to 0 nor
    // overflow it; for real screens this equals the 32-bit result.
    const std::uint64_t numerator =
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(workH)) * static_cast<std::uint32_t>(screen.cx);
    const std::uint64_t denominator =
        static_cast<std::uint64_t>(heightDivisor) * static_cast<std::uint32_t>(workW);
    height = static_cast<std::uint32_t>(numerator / denominator);
  }
  return {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height)};
}

Point Placement(std::uint32_t position, const Size& window, const WorkArea& work, std::int32_t screenWidth) {
  const std::int32_t W = window.cx;
  const std::int32_t H = window.cy;
  const std::int32_t workW = work.right - work.left;
  const std::int32_t workH = work.bottom - work.top;
  const std::int32_t centreX = (workW - W) / 2;
  const std::int32_t middleY = (workH - H) / 2;
  const std::int32_t bottomY = work.bottom - H;
  switch (position) {
    case 0: return {0, 0};
    case 1: return {centreX, 0};
    case 2: return {screenWidth != 0 ? screenWidth - W : work.right - W, 0};
    case 3: return {0, middleY};
    case 4: return {centreX, middleY};
    case 5: return {work.right - W, middleY};
    case 6: return {0, bottomY};
    case 7: return {screenWidth > 0 ? (screenWidth - W) / 2 : 0, bottomY};
    case 8: return {work.right - W, bottomY};
    default: return {0, 0};
  }
}

}  // namespace zevosd
