#include "fnk_logic.h"

#include <algorithm>

namespace hkbfnk {

int VersionCode(uint32_t major, uint32_t minor) {
  if (major < 5) return kVersionUnknown;
  if (major == 5) return minor == 0 ? kVersionUnknown : kVersionXp;
  if (major == 6 && minor == 0) return kVersionVista;
  return kVersionWin7Up;
}

int StepLevelIndex(const uint8_t* levels, size_t count, uint32_t current, int direction) {
  if (count == 0 || levels == nullptr) return -1;
  if (direction != kStepUp && direction != kStepDown) return -1;
  const size_t last = count - 1;

  // Where the current brightness stands in the list.
  size_t pos = 0;
  bool found = false;
  for (size_t i = 0; i < count; ++i) {
    if (levels[i] == current) {
      pos = i;
      found = true;
      break;
    }
  }
  if (!found) {
    if (current < levels[0]) {
      pos = 0;
    } else if (current > levels[last]) {
      pos = last;
    } else {
      // Between two entries: the first entry above the current value exists
      // (the last entry is not below it) and is not the first one.
      size_t above = 1;
      while (above < last && levels[above] <= current) ++above;
      pos = direction == kStepUp ? above - 1 : above;
    }
  }

  if (direction == kStepUp) return static_cast<int>(pos == last ? last : pos + 1);
  return static_cast<int>(pos == 0 ? 0 : pos - 1);
}

size_t UsableLevelCount(uint32_t stated, size_t delivered) {
  return std::min({static_cast<size_t>(stated), delivered, kMaxLevels});
}

int FindLevel(const uint8_t* levels, size_t count, uint32_t value) {
  for (size_t i = 0; i < count; ++i) {
    if (levels[i] == value) return static_cast<int>(i);
  }
  return -1;
}

bool UseAcIndex(uint8_t acLineStatus) { return acLineStatus == 1; }

uint32_t NextRotation(uint32_t rotation) {
  switch (rotation) {
    case kRotateIdentity: return kRotate270;
    case kRotate90: return kRotateIdentity;
    case kRotate180: return kRotate90;
    case kRotate270: return kRotate180;
    default: return 0;
  }
}

bool TurnPaths(PathTarget* paths, size_t count, uint32_t topology) {
  const size_t chosen = topology == kTopologyClone ? count : std::min<size_t>(count, 1);
  bool applicable = true;
  for (size_t i = 0; i < chosen; ++i) {
    if (paths[i].statusFlags == 0) continue;
    const uint32_t next = NextRotation(paths[i].rotation);
    if (next == 0) {
      applicable = false;
      continue;
    }
    paths[i].rotation = next;
  }
  return applicable;
}

}  // namespace hkbfnk
