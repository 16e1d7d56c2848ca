// Decisions of the function-key library that need no platform call: the
// version code, brightness stepping over the panel's level list, and the
// rotation step over display paths. Kept free of Windows headers so that
// they build and run natively.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hkbfnk {

// Version codes that gate the brightness and display functions.
constexpr int kVersionUnknown = 0;
constexpr int kVersionXp = 9;       // 5.1 and later 5.x
constexpr int kVersionVista = 10;   // 6.0
constexpr int kVersionWin7Up = 11;  // 6.1 and later

// Gates: the lowest code at which each function works.
constexpr int kGateStepBrightness = kVersionVista;
constexpr int kGateMatchScheme = kVersionWin7Up;
constexpr int kGateQueryTopology = kVersionWin7Up;

int VersionCode(uint32_t major, uint32_t minor);

// Direction codes of the stepping function.
constexpr int kStepUp = 2;    // towards the end of the level list
constexpr int kStepDown = 3;  // towards its start

// Capacity of the level table (and of the read buffer).
constexpr size_t kMaxLevels = 256;

// Index into levels[0..count-1] of the level one step from `current`, or -1
// for an empty list or a direction other than up or down. The list keeps the
// order the panel reports; it is not assumed to be sorted.
int StepLevelIndex(const uint8_t* levels, size_t count, uint32_t current, int direction);

// How many table entries are usable: the level count the panel states, but
// no more than the elements its level list delivered and the table holds.
size_t UsableLevelCount(uint32_t stated, size_t delivered);

// Index of the first entry equal to `value`, or -1.
int FindLevel(const uint8_t* levels, size_t count, uint32_t value);

// True when the AC index of a power scheme applies for this line status
// (1 = on mains); 0 (battery) and 255 (unknown) use the DC index.
bool UseAcIndex(uint8_t acLineStatus);

// Display rotation values and topology identifiers of the platform.
constexpr uint32_t kRotateIdentity = 1;
constexpr uint32_t kRotate90 = 2;
constexpr uint32_t kRotate180 = 3;
constexpr uint32_t kRotate270 = 4;
constexpr uint32_t kTopologyInternal = 1;
constexpr uint32_t kTopologyClone = 2;
constexpr uint32_t kTopologyExtend = 4;
constexpr uint32_t kTopologyExternal = 8;

// One quarter turn of the rotate-right key: identity -> 270 -> 180 -> 90 ->
// identity. Returns 0 for a value outside 1..4 (not applicable).
uint32_t NextRotation(uint32_t rotation);

// The target part of a display path that the rotation reads and writes.
struct PathTarget {
  uint32_t statusFlags;
  uint32_t rotation;
};

// Turns the paths that the topology calls for: every path in clone, only the
// first one otherwise; a path whose target status flags are 0 is left alone.
// Returns false when a path to turn has a rotation outside the table: the
// whole configuration must then stay as it is.
bool TurnPaths(PathTarget* paths, size_t count, uint32_t topology);

// Platform results the configuration reading distinguishes.
constexpr long kResultOk = 0;
constexpr long kResultNotEnoughMemory = 8;
constexpr long kResultInsufficientBuffer = 122;
constexpr int kRotateAttempts = 3;

// Outcome of one attempt to read the configuration.
struct Attempt {
  long result;
  bool again;  // try once more (if attempts remain)
};
// Buffer sizes could not be read: stop with that result.
inline Attempt SizesFailed(long result) { return {result, false}; }
// A buffer could not be allocated: try again.
inline Attempt AllocationFailed() { return {kResultNotEnoughMemory, true}; }
// The configuration was queried: only a configuration that grew since the
// sizes were read is worth another attempt.
inline Attempt Queried(long result) { return {result, result == kResultInsufficientBuffer}; }

// Runs `attempt()` (returning Attempt) up to `limit` times while it asks for
// another try; the result of the last attempt that ran.
template <class F>
long RunAttempts(int limit, F&& attempt) {
  long result = kResultNotEnoughMemory;
  for (int i = 0; i < limit; ++i) {
    const Attempt a = attempt();
    result = a.result;
    if (!a.again) break;
  }
  return result;
}

}  // namespace hkbfnk
