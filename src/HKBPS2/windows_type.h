// Which Windows release the library runs on, and which button device that
// release has. Plain C++.
#pragma once

#include <cstdint>

namespace hkbps2 {

// 0: unclassified, no device is used. 6, 7, 9: keyboard filter driver.
// 1 to 5 and 8: the older virtual device.
int ClassifyWindows(uint32_t major, uint32_t minor, uint32_t build);

constexpr bool UsesFilterDriver(int type) { return type == 6 || type == 7 || type == 9; }
constexpr bool UsesVirtualDevice(int type) { return (type >= 1 && type <= 5) || type == 8; }
constexpr bool HasDevice(int type) { return type >= 1 && type <= 9; }
// Releases on which the worker thread turns the input method editor off.
constexpr bool DisablesIme(int type) { return type >= 4 && type != 6; }
// Releases with session-change notifications.
constexpr bool UsesSessionNotifications(int type) { return type == 9; }

}  // namespace hkbps2
