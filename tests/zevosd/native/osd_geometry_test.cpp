// Size and placement arithmetic of the display window.
#include <gtest/gtest.h>

#include <cstdint>

#include "osd_geometry.h"

namespace {

using zevosd::Point;
using zevosd::ScreenSize;
using zevosd::Size;
using zevosd::WorkArea;

TEST(OsdRequest, DisplayableNeedsAHeightDivisorAndAPositionUpToEight) {
  struct Case {
    std::uint32_t position, heightDivisor;
    bool displayable;
  } const cases[] = {
      {0, 1, true},
      {8, 1, true},
      {9, 1, false},
      {0xFFFFFFFFu, 10, false},
      {0x80000000u, 10, false},
      {4, 0, false},
      {0, 0xFFFFFFFFu, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zevosd::IsDisplayable(c.position, c.heightDivisor), c.displayable)
        << "position " << c.position << " divisor " << c.heightDivisor;
  }
}

TEST(OsdRequest, WidthDivisorZeroMeansThirty) {
  EXPECT_EQ(zevosd::EffectiveWidthDivisor(0), 30u);
  EXPECT_EQ(zevosd::EffectiveWidthDivisor(1), 1u);
  EXPECT_EQ(zevosd::EffectiveWidthDivisor(0xFFFFFFFFu), 0xFFFFFFFFu);
}

constexpr WorkArea kLandscapeWork{0, 0, 1280, 984};  // taskbar of 40 at the bottom
constexpr ScreenSize kLandscape{1280, 1024};
constexpr WorkArea kPortraitWork{0, 0, 1080, 1880};
constexpr ScreenSize kPortrait{1080, 1920};

struct SizeCase {
  const char* name;
  std::uint32_t position, heightDivisor, widthDivisor;
  WorkArea work;
  ScreenSize screen;
  Size expected;
};

const SizeCase kSizeCases[] = {
    // Every position but 2 and 7 divides the work area.
    {"pos 0 work area", 0, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 1 work area", 1, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 3 work area", 3, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 4 work area", 4, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 5 work area", 5, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 6 work area", 6, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"pos 8 work area", 8, 10, 30, kLandscapeWork, kLandscape, {42, 98}},
    {"offset work area uses its extent", 4, 4, 2, {100, 50, 1180, 974}, kLandscape, {540, 231}},
    // Positions 2 and 7 divide the screen.
    {"pos 2 screen", 2, 10, 30, kLandscapeWork, kLandscape, {42, 102}},
    {"pos 7 screen", 7, 10, 30, kLandscapeWork, kLandscape, {42, 102}},
    // Zero metrics keep the work-area size.
    {"pos 2 no screen width", 2, 10, 30, kLandscapeWork, {0, 1024}, {42, 98}},
    {"pos 2 no screen height", 2, 10, 30, kLandscapeWork, {1280, 0}, {42, 98}},
    {"pos 7 no metrics", 7, 10, 30, kLandscapeWork, {0, 0}, {42, 98}},
    {"pos 7 no screen height", 7, 10, 30, kLandscapeWork, {1280, 0}, {42, 98}},
    // Portrait: position 7 scales the work-area height to the screen width.
    {"pos 7 portrait", 7, 10, 30, kPortraitWork, kPortrait, {36, 188}},
    {"pos 7 portrait, offset work area", 7, 8, 30, {0, 100, 1000, 1920}, kPortrait, {36, 245}},
    {"pos 2 portrait keeps the screen rule", 2, 10, 30, kPortraitWork, kPortrait, {36, 192}},
    {"pos 4 portrait keeps the work area", 4, 10, 30, kPortraitWork, kPortrait, {36, 188}},
    {"pos 7 portrait, empty work area", 7, 10, 30, {0, 0, 0, 1880}, kPortrait, {36, 192}},
    {"pos 7 square screen is not portrait", 7, 10, 30, {0, 0, 1000, 900}, {1000, 1000}, {33, 100}},
    // The divisions are unsigned: a divisor with the top bit set gives 0, not a negative size.
    {"height divisor 0xFFFFFFFF", 4, 0xFFFFFFFFu, 30, kLandscapeWork, kLandscape, {42, 0}},
    {"width divisor 0xFFFFFFFE", 4, 10, 0xFFFFFFFEu, kLandscapeWork, kLandscape, {0, 98}},
    {"screen rule, divisor 0x80000000", 2, 0x80000000u, 0x80000000u, kLandscapeWork, kLandscape, {0, 0}},
    {"divisor 1 keeps the full size", 7, 1, 1, kLandscapeWork, kLandscape, {1280, 1024}},
    // The portrait product would wrap to 0 in 32 bits (0x80000000 * 1080).
    {"portrait, divisor product wraps", 7, 0x80000000u, 30, kPortraitWork, kPortrait, {36, 0}},
};

TEST(OsdSize, FollowsTheWorkAreaTheScreenAndTheDivisors) {
  for (const SizeCase& c : kSizeCases) {
    const Size got = zevosd::InitialSize(c.position, c.heightDivisor, c.widthDivisor, c.work, c.screen);
    EXPECT_EQ(got.cx, c.expected.cx) << c.name;
    EXPECT_EQ(got.cy, c.expected.cy) << c.name;
  }
}

struct PlaceCase {
  const char* name;
  std::uint32_t position;
  Size window;
  WorkArea work;
  std::int32_t screenWidth;
  Point expected;
};

constexpr WorkArea kWork{100, 50, 1180, 974};  // 1080 x 924, taskbars on two sides
constexpr Size kWin{200, 80};

const PlaceCase kPlaceCases[] = {
    {"0 top left is the screen origin", 0, kWin, kWork, 1280, {0, 0}},
    {"1 top centre of the work area", 1, kWin, kWork, 1280, {440, 0}},
    {"2 top right of the screen", 2, kWin, kWork, 1280, {1080, 0}},
    {"3 middle left", 3, kWin, kWork, 1280, {0, 422}},
    {"4 centre", 4, kWin, kWork, 1280, {440, 422}},
    {"5 middle right of the work area", 5, kWin, kWork, 1280, {980, 422}},
    {"6 bottom left", 6, kWin, kWork, 1280, {0, 894}},
    {"7 bottom centre of the screen width", 7, kWin, kWork, 1280, {540, 894}},
    {"8 flush with the work area's corner", 8, kWin, kWork, 1280, {980, 894}},
    // Without a screen width, 2 uses the work area's right edge and 7 the left screen edge.
    {"2 without screen width", 2, kWin, kWork, 0, {980, 0}},
    {"7 without screen width", 7, kWin, kWork, 0, {0, 894}},
    {"7 with a negative screen width", 7, kWin, kWork, -5, {0, 894}},
    // Halves round toward zero, also for windows larger than the area.
    {"1 odd difference", 1, {201, 80}, kWork, 1280, {439, 0}},
    {"4 window wider than the work area", 4, {1101, 925}, kWork, 1280, {-10, 0}},
    {"7 window wider than the screen", 7, {1283, 80}, kWork, 1280, {-1, 894}},
    // A taskbar at the top does not move the top row.
    {"0 taskbar on top", 0, kWin, {0, 40, 1280, 1024}, 1280, {0, 0}},
    {"1 taskbar on top", 1, kWin, {0, 40, 1280, 1024}, 1280, {540, 0}},
    {"2 taskbar on top", 2, kWin, {0, 40, 1280, 1024}, 1280, {1080, 0}},
    {"3 taskbar on top", 3, kWin, {0, 40, 1280, 1024}, 1280, {0, 452}},
};

TEST(OsdPlacement, NinePositions) {
  for (const PlaceCase& c : kPlaceCases) {
    const Point got = zevosd::Placement(c.position, c.window, c.work, c.screenWidth);
    EXPECT_EQ(got.x, c.expected.x) << c.name;
    EXPECT_EQ(got.y, c.expected.y) << c.name;
  }
}

}  // namespace
