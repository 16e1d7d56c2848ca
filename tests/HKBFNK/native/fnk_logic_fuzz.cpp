// The brightness step over a level list as the panel delivers it (any order,
// any count) and the rotation step over display paths. On an ascending list
// the step is the next level above or below the current one; on any list it
// is an index inside it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fnk_logic.h"
#include "hkbtest/fuzz_input.h"

using hkbtest::FuzzCheck;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hkbtest::FuzzInput in(data, size);
  const uint32_t stated = in.Below(400);
  const int direction = static_cast<int>(in.Below(5));
  const uint32_t current = in.Byte();
  const bool sort = in.Byte() & 1;
  std::vector<uint8_t> delivered;
  while (!in.empty() && delivered.size() < 300) delivered.push_back(in.Byte());
  const size_t count = hkbfnk::UsableLevelCount(stated, delivered.size());
  FuzzCheck(count <= stated && count <= delivered.size() && count <= hkbfnk::kMaxLevels);
  // Exactly as many entries as are usable, so that a read past them is seen.
  std::vector<uint8_t> levels(delivered.begin(), delivered.begin() + static_cast<ptrdiff_t>(count));
  if (sort) {
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
  }
  const int i = hkbfnk::StepLevelIndex(levels.data(), levels.size(), current, direction);
  if (levels.empty() || (direction != hkbfnk::kStepUp && direction != hkbfnk::kStepDown)) {
    FuzzCheck(i == -1);
  } else {
    FuzzCheck(i >= 0 && static_cast<size_t>(i) < levels.size());
    if (sort) {
      // The next level beyond the current one, or the end the list stops at;
      // but a value below the list counts as its first entry and one above
      // it as its last, so a step from there moves one entry on.
      const int n = static_cast<int>(levels.size());
      int want = direction == hkbfnk::kStepUp ? n - 1 : 0;
      if (direction == hkbfnk::kStepUp) {
        for (int k = n; k-- > 0;)
          if (levels[static_cast<size_t>(k)] > current) want = k;
        if (current < levels[0]) want = std::min(1, n - 1);
      } else {
        for (int k = 0; k < n; ++k)
          if (levels[static_cast<size_t>(k)] < current) want = k;
        if (current > levels.back()) want = std::max(n - 2, 0);
      }
      FuzzCheck(i == want);
    }
  }
  const int found = hkbfnk::FindLevel(levels.data(), levels.size(), current);
  FuzzCheck(found == -1 ? std::find(levels.begin(), levels.end(), current) == levels.end()
                        : levels[static_cast<size_t>(found)] == current);

  // Rotation: four quarter turns come back; a value outside the table stops
  // the whole configuration.
  std::vector<hkbfnk::PathTarget> paths;
  for (size_t k = 0; k + 1 < levels.size() && k < 16; k += 2)
    paths.push_back({levels[k] & 1u, levels[k + 1] % 6u});
  const uint32_t topology = 1u << (current & 3);
  std::vector<hkbfnk::PathTarget> turned = paths;
  const bool ok = hkbfnk::TurnPaths(turned.data(), turned.size(), topology);
  const size_t chosen = topology == hkbfnk::kTopologyClone ? paths.size() : std::min<size_t>(paths.size(), 1);
  bool want_ok = true;
  for (size_t k = 0; k < paths.size(); ++k) {
    const bool turns = k < chosen && paths[k].statusFlags != 0;
    if (turns && hkbfnk::NextRotation(paths[k].rotation) == 0) want_ok = false;
    uint32_t r = turned[k].rotation;
    if (turns && r != paths[k].rotation)
      for (int q = 0; q < 3; ++q) r = hkbfnk::NextRotation(r);
    FuzzCheck(r == paths[k].rotation);
  }
  FuzzCheck(ok == want_ok);
  return 0;
}
