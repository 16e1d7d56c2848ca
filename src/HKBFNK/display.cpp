// The active display topology and the rotate-right key, through the display
// configuration functions of the system.
#include <windows.h>

#include <memory>
#include <new>
#include <vector>

#include "HKBFNK.h"
#include "fnk_logic.h"
#include "fnk_state.h"
#include "hkb/guard.h"

namespace {

static_assert(sizeof(DISPLAYCONFIG_PATH_INFO) == 72);
static_assert(sizeof(DISPLAYCONFIG_MODE_INFO) == 64);
static_assert(QDC_DATABASE_CURRENT == 4);

// SDC_APPLY | SDC_USE_SUPPLIED_DISPLAY_CONFIG | SDC_SAVE_TO_DATABASE | SDC_ALLOW_CHANGES
constexpr UINT32 kApplyRotation =
    SDC_APPLY | SDC_USE_SUPPLIED_DISPLAY_CONFIG | SDC_SAVE_TO_DATABASE | SDC_ALLOW_CHANGES;
static_assert(kApplyRotation == 0x6A0);

// A zero-filled array of `count` records, or null when it cannot be had.
template <class T>
std::unique_ptr<T[]> Allocate(UINT32 count) {
  return std::unique_ptr<T[]>(new (std::nothrow) T[count]());
}

}  // namespace

extern "C" int HKBFNK_QueryDisplayConfig(void) {
  return hkb::Guarded(0, [&] {
    if (hkbfnk::VersionCodeNow() < hkbfnk::kGateQueryTopology) return 0;
    UINT32 pathCount = 0;
    UINT32 modeCount = 0;
    if (::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &pathCount, &modeCount) != ERROR_SUCCESS)
      return 0;
    auto paths = Allocate<DISPLAYCONFIG_PATH_INFO>(pathCount);
    if (!paths) return 0;
    auto modes = Allocate<DISPLAYCONFIG_MODE_INFO>(modeCount);
    if (!modes) return 0;
    DISPLAYCONFIG_TOPOLOGY_ID topology = {};
    // A single attempt: a configuration that grew meanwhile gives 0.
    const LONG result = ::QueryDisplayConfig(QDC_DATABASE_CURRENT, &pathCount, paths.get(), &modeCount,
                                             modes.get(), &topology);
    if (result != ERROR_SUCCESS) return 0;
    return static_cast<int>(topology);
  });
}

extern "C" int HKBFNK_RightRotate(void) {
  return hkb::Guarded(0, [&] {
    UINT32 pathCount = 0;
    UINT32 modeCount = 0;
    std::unique_ptr<DISPLAYCONFIG_PATH_INFO[]> paths;
    std::unique_ptr<DISPLAYCONFIG_MODE_INFO[]> modes;
    DISPLAYCONFIG_TOPOLOGY_ID topology = {};

    const long result = hkbfnk::RunAttempts(hkbfnk::kRotateAttempts, [&]() -> hkbfnk::Attempt {
      paths.reset();
      modes.reset();
      const LONG sizes = ::GetDisplayConfigBufferSizes(QDC_DATABASE_CURRENT, &pathCount, &modeCount);
      if (sizes != ERROR_SUCCESS) return hkbfnk::SizesFailed(sizes);
      paths = Allocate<DISPLAYCONFIG_PATH_INFO>(pathCount);
      modes = Allocate<DISPLAYCONFIG_MODE_INFO>(modeCount);
      if (!paths || !modes) {
        paths.reset();
        modes.reset();
        return hkbfnk::AllocationFailed();
      }
      return hkbfnk::Queried(::QueryDisplayConfig(QDC_DATABASE_CURRENT, &pathCount, paths.get(), &modeCount,
                                                  modes.get(), &topology));
    });
    if (result != ERROR_SUCCESS) return 0;
    // Without any path there is nothing to turn.
    if (pathCount == 0) return 0;

    std::vector<hkbfnk::PathTarget> targets(pathCount);
    for (UINT32 i = 0; i < pathCount; ++i) {
      targets[i] = {paths[i].targetInfo.statusFlags, static_cast<uint32_t>(paths[i].targetInfo.rotation)};
    }
    if (!hkbfnk::TurnPaths(targets.data(), targets.size(), static_cast<uint32_t>(topology))) return 0;
    for (UINT32 i = 0; i < pathCount; ++i) {
      paths[i].targetInfo.rotation = static_cast<DISPLAYCONFIG_ROTATION>(targets[i].rotation);
    }
    return ::SetDisplayConfig(pathCount, paths.get(), modeCount, modes.get(), kApplyRotation) == ERROR_SUCCESS
               ? 1
               : 0;
  });
}
