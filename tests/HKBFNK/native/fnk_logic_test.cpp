// Plain decisions of the function-key library: version codes, brightness
// stepping, rotation and the configuration-reading attempts.
#include <gtest/gtest.h>

#include <vector>

#include "fnk_logic.h"

namespace hkbfnk {
namespace {

TEST(VersionCode, FollowsTheVersionTable) {
  struct Case {
    uint32_t major, minor;
    int code;
  };
  const Case cases[] = {
      {0, 0, 0},  {4, 0, 0},  {4, 90, 0}, {5, 0, 0},  {5, 1, 9},   {5, 2, 9},
      {6, 0, 10}, {6, 1, 11}, {6, 2, 11}, {6, 3, 11}, {10, 0, 11}, {7, 0, 11},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VersionCode(c.major, c.minor), c.code) << c.major << "." << c.minor;
  }
}

TEST(VersionCode, GatesOpenAtTheirCodes) {
  EXPECT_LT(VersionCode(5, 1), kGateStepBrightness);
  EXPECT_GE(VersionCode(6, 0), kGateStepBrightness);
  EXPECT_LT(VersionCode(6, 0), kGateMatchScheme);
  EXPECT_LT(VersionCode(6, 0), kGateQueryTopology);
  EXPECT_GE(VersionCode(6, 1), kGateMatchScheme);
  EXPECT_GE(VersionCode(6, 1), kGateQueryTopology);
}

struct StepCase {
  const char* name;
  std::vector<uint8_t> levels;
  uint32_t current;
  int direction;
  int index;  // -1: nothing to set
};

const std::vector<uint8_t> k11 = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100};
const std::vector<uint8_t> k2 = {30, 70};
const std::vector<uint8_t> k1 = {40};

const StepCase kStepCases[] = {
    // Eleven entries: the worked examples.
    {"on 50, up", k11, 50, kStepUp, 6},
    {"on 50, down", k11, 50, kStepDown, 4},
    {"between 50 and 60, up", k11, 55, kStepUp, 6},
    {"between 50 and 60, down", k11, 55, kStepDown, 5},
    {"top, up stays", k11, 100, kStepUp, 10},
    {"top, down", k11, 100, kStepDown, 9},
    {"first, down stays", k11, 0, kStepDown, 0},
    {"first, up", k11, 0, kStepUp, 1},
    {"above the last, up", k11, 180, kStepUp, 10},
    {"above the last, down", k11, 180, kStepDown, 9},
    {"just above the first, up", k11, 1, kStepUp, 1},
    {"just above the first, down", k11, 1, kStepDown, 0},
    {"just below the last, up", k11, 99, kStepUp, 10},
    {"just below the last, down", k11, 99, kStepDown, 9},
    // Below the first entry counts as the first position.
    {"below first, up", {20, 40, 60}, 5, kStepUp, 1},
    {"below first, down", {20, 40, 60}, 5, kStepDown, 0},
    // Two entries.
    {"two: below, up", k2, 10, kStepUp, 1},
    {"two: below, down", k2, 10, kStepDown, 0},
    {"two: on first, up", k2, 30, kStepUp, 1},
    {"two: on first, down", k2, 30, kStepDown, 0},
    {"two: between, up", k2, 50, kStepUp, 1},
    {"two: between, down", k2, 50, kStepDown, 0},
    {"two: on last, up", k2, 70, kStepUp, 1},
    {"two: on last, down", k2, 70, kStepDown, 0},
    {"two: above, up", k2, 200, kStepUp, 1},
    {"two: above, down", k2, 200, kStepDown, 0},
    // One entry: both directions set it.
    {"one: below, up", k1, 0, kStepUp, 0},
    {"one: below, down", k1, 0, kStepDown, 0},
    {"one: on it, up", k1, 40, kStepUp, 0},
    {"one: on it, down", k1, 40, kStepDown, 0},
    {"one: above, up", k1, 255, kStepUp, 0},
    {"one: above, down", k1, 255, kStepDown, 0},
    // Lists keep the panel's order: the first equal entry and the first
    // entry above decide.
    {"repeated value, first match", {10, 50, 50, 90}, 50, kStepUp, 2},
    {"repeated value, first match down", {10, 50, 50, 90}, 50, kStepDown, 0},
    {"unsorted, first above", {50, 20, 80, 60}, 55, kStepUp, 2},
    {"unsorted, first above down", {50, 20, 80, 60}, 55, kStepDown, 1},
    // Other direction codes set nothing.
    {"direction 0", k11, 50, 0, -1},
    {"direction 1", k11, 50, 1, -1},
    {"direction 4", k11, 50, 4, -1},
    {"direction -2", k11, 50, -2, -1},
    {"empty list", {}, 50, kStepUp, -1},
};

TEST(StepLevelIndex, MovesOneEntryFromWhereTheBrightnessStands) {
  for (const StepCase& c : kStepCases) {
    EXPECT_EQ(StepLevelIndex(c.levels.data(), c.levels.size(), c.current, c.direction), c.index) << c.name;
  }
}

TEST(StepLevelIndex, AlwaysLandsInsideTheList) {
  // Every current value against lists of several shapes.
  const std::vector<std::vector<uint8_t>> lists = {k1, k2, k11, {255}, {0, 255}, {200, 3, 100}};
  for (const auto& l : lists) {
    for (uint32_t cur = 0; cur <= 255; ++cur) {
      for (int dir : {kStepUp, kStepDown}) {
        const int i = StepLevelIndex(l.data(), l.size(), cur, dir);
        ASSERT_GE(i, 0);
        ASSERT_LT(static_cast<size_t>(i), l.size());
      }
    }
  }
}

TEST(StepLevelIndex, RepeatedStepsWalkTheWholeList) {
  uint32_t cur = 0;
  std::vector<uint8_t> seen;
  for (int n = 0; n < 12; ++n) {
    cur = k11[StepLevelIndex(k11.data(), k11.size(), cur, kStepUp)];
    seen.push_back(static_cast<uint8_t>(cur));
  }
  EXPECT_EQ(seen, (std::vector<uint8_t>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 100, 100}));
  for (int n = 0; n < 11; ++n) cur = k11[StepLevelIndex(k11.data(), k11.size(), cur, kStepDown)];
  EXPECT_EQ(cur, 0u);
}

TEST(UsableLevelCount, IsBoundByStatedDeliveredAndCapacity) {
  EXPECT_EQ(UsableLevelCount(11, 11), 11u);
  EXPECT_EQ(UsableLevelCount(0, 11), 0u);
  EXPECT_EQ(UsableLevelCount(11, 0), 0u);
  EXPECT_EQ(UsableLevelCount(20, 11), 11u);  // fewer elements than stated
  EXPECT_EQ(UsableLevelCount(5, 11), 5u);    // more elements than stated
  EXPECT_EQ(UsableLevelCount(300, 300), 256u);
  EXPECT_EQ(UsableLevelCount(0xFFFFFFFFu, 1000), 256u);
}

TEST(FindLevel, FirstEqualEntryOrNone) {
  const std::vector<uint8_t> l = {5, 30, 30, 80};
  EXPECT_EQ(FindLevel(l.data(), l.size(), 5), 0);
  EXPECT_EQ(FindLevel(l.data(), l.size(), 30), 1);
  EXPECT_EQ(FindLevel(l.data(), l.size(), 80), 3);
  EXPECT_EQ(FindLevel(l.data(), l.size(), 31), -1);
  EXPECT_EQ(FindLevel(l.data(), l.size(), 256 + 5), -1);  // no truncation to 8 bits
  EXPECT_EQ(FindLevel(l.data(), 0, 5), -1);
}

TEST(UseAcIndex, OnlyOnMains) {
  EXPECT_TRUE(UseAcIndex(1));
  EXPECT_FALSE(UseAcIndex(0));
  EXPECT_FALSE(UseAcIndex(255));
}

TEST(NextRotation, TurnsRightByOneQuarter) {
  EXPECT_EQ(NextRotation(kRotateIdentity), kRotate270);
  EXPECT_EQ(NextRotation(kRotate270), kRotate180);
  EXPECT_EQ(NextRotation(kRotate180), kRotate90);
  EXPECT_EQ(NextRotation(kRotate90), kRotateIdentity);
  for (uint32_t bad : {0u, 5u, 0xFFFFFFFFu}) EXPECT_EQ(NextRotation(bad), 0u) << bad;
}

struct TurnCase {
  const char* name;
  uint32_t topology;
  std::vector<PathTarget> before;
  std::vector<uint32_t> after;  // rotations afterwards
  bool applicable;
};

const TurnCase kTurnCases[] = {
    {"internal: first only", kTopologyInternal, {{1, 1}, {1, 1}}, {4, 1}, true},
    {"extend: first only", kTopologyExtend, {{1, 2}, {1, 3}}, {1, 3}, true},
    {"external: first only", kTopologyExternal, {{1, 3}, {1, 4}}, {2, 4}, true},
    {"clone: every active path", kTopologyClone, {{1, 1}, {1, 4}, {1, 2}}, {4, 3, 1}, true},
    {"clone: inactive path stays", kTopologyClone, {{1, 1}, {0, 1}, {3, 1}}, {4, 1, 4}, true},
    {"extend: inactive first path, nothing turns", kTopologyExtend, {{0, 1}, {1, 1}}, {1, 1}, true},
    {"extend: bad rotation on first", kTopologyExtend, {{1, 0}, {1, 1}}, {0, 1}, false},
    {"extend: bad rotation on second is not looked at", kTopologyExtend, {{1, 1}, {1, 0}}, {4, 0}, true},
    {"clone: bad rotation anywhere", kTopologyClone, {{1, 1}, {1, 7}}, {4, 7}, false},
    {"clone: bad rotation on inactive path", kTopologyClone, {{1, 1}, {0, 7}}, {4, 7}, true},
    {"no paths", kTopologyInternal, {}, {}, true},
};

TEST(TurnPaths, TurnsThePathsTheTopologyCallsFor) {
  for (const TurnCase& c : kTurnCases) {
    std::vector<PathTarget> paths = c.before;
    EXPECT_EQ(TurnPaths(paths.data(), paths.size(), c.topology), c.applicable) << c.name;
    std::vector<uint32_t> got;
    for (const PathTarget& p : paths) got.push_back(p.rotation);
    EXPECT_EQ(got, c.after) << c.name;
    for (size_t i = 0; i < paths.size(); ++i)
      EXPECT_EQ(paths[i].statusFlags, c.before[i].statusFlags) << c.name;
  }
}

TEST(TurnPaths, FourTurnsComeBackToTheStart) {
  std::vector<PathTarget> paths = {{1, 1}, {1, 2}, {1, 3}, {1, 4}};
  for (int n = 0; n < 4; ++n) ASSERT_TRUE(TurnPaths(paths.data(), paths.size(), kTopologyClone));
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(paths[i].rotation, i + 1);
}

// Scripted attempts: each entry is what one attempt reports.
struct AttemptScript {
  const char* name;
  std::vector<Attempt> steps;
  long result;
  int ran;
};

const AttemptScript kAttemptScripts[] = {
    {"first query succeeds", {Queried(0)}, 0, 1},
    {"grew once", {Queried(122), Queried(0)}, 0, 2},
    {"grew twice", {Queried(122), Queried(122), Queried(0)}, 0, 3},
    {"keeps growing", {Queried(122), Queried(122), Queried(122), Queried(0)}, 122, 3},
    {"other query error stops", {Queried(87), Queried(0)}, 87, 1},
    {"sizes fail stops", {SizesFailed(31), Queried(0)}, 31, 1},
    {"allocation fails, then works", {AllocationFailed(), Queried(0)}, 0, 2},
    {"allocation keeps failing",
     {AllocationFailed(), AllocationFailed(), AllocationFailed(), Queried(0)},
     8,
     3},
    {"grew, then sizes fail", {Queried(122), SizesFailed(5)}, 5, 2},
};

TEST(RunAttempts, RetriesOnlyGrowthAndAllocationThreeTimesInAll) {
  for (const AttemptScript& s : kAttemptScripts) {
    int ran = 0;
    const long result = RunAttempts(kRotateAttempts, [&] { return s.steps[static_cast<size_t>(ran++)]; });
    EXPECT_EQ(result, s.result) << s.name;
    EXPECT_EQ(ran, s.ran) << s.name;
  }
}

}  // namespace
}  // namespace hkbfnk
