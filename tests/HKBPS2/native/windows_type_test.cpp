// The Windows classification table.
#include <gtest/gtest.h>

#include "windows_type.h"

namespace hkbps2 {
namespace {

struct Case {
  uint32_t major, minor, build;
  int type;
};

const Case kCases[] = {
    {4, 0, 950, 1},
    {4, 0, 1111, 2},
    {4, 0, 1212, 3},
    {4, 0, 1381, 6},
    {4, 0, 1057, 0},
    {4, 0, 0, 0},
    {4, 10, 1998, 4},
    {4, 10, 2222, 5},
    {4, 10, 1999, 0},
    {4, 90, 3000, 8},
    {4, 90, 2223, 8},
    {4, 90, 2222, 0},
    {4, 90, 0, 0},
    {4, 1, 1998, 0},
    {4, 20, 3000, 0},
    {5, 0, 2195, 7},
    {5, 0, 0, 7},
    {5, 1, 2600, 9},
    {5, 2, 3790, 0},
    {5, 3, 0, 0},
    {6, 0, 6002, 9},
    {6, 1, 7601, 9},
    {6, 2, 9200, 9},
    {10, 0, 19045, 9},
    {3, 51, 1057, 0},
    {0, 0, 0, 0},
    // Only the low 16 bits of the build count: the old releases put the
    // version into the high word.
    {4, 10, 0x040A07CE, 4},
    {4, 90, 0x045A0BB8, 8},
    {4, 0, 0x000103B6, 1},
    {4, 0, 0x00020565, 6},
};

TEST(WindowsType, ClassificationTable) {
  for (const Case& c : kCases) {
    EXPECT_EQ(ClassifyWindows(c.major, c.minor, c.build), c.type)
        << c.major << "." << c.minor << "." << c.build;
  }
}

TEST(WindowsType, DeviceChoicePerType) {
  for (int t = 0; t <= 9; ++t) {
    SCOPED_TRACE(t);
    EXPECT_EQ(UsesFilterDriver(t), t == 6 || t == 7 || t == 9);
    EXPECT_EQ(UsesVirtualDevice(t), t == 1 || t == 2 || t == 3 || t == 4 || t == 5 || t == 8);
    EXPECT_EQ(HasDevice(t), t != 0);
    EXPECT_EQ(DisablesIme(t), t == 4 || t == 5 || t == 7 || t == 8 || t == 9);
  }
}

}  // namespace
}  // namespace hkbps2
