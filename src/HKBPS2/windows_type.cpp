#include "windows_type.h"

namespace hkbps2 {

int ClassifyWindows(uint32_t major, uint32_t minor, uint32_t build) {
  const uint32_t b = build & 0xFFFFu;
  if (major >= 6) return 9;
  if (major == 5) {
    if (minor == 0) return 7;
    if (minor == 1) return 9;
    return 0;
  }
  if (major != 4) return 0;
  switch (minor) {
    case 0:
      switch (b) {
        case 950: return 1;
        case 1111: return 2;
        case 1212: return 3;
        case 1381: return 6;
        default: return 0;
      }
    case 10:
      if (b == 1998) return 4;
      if (b == 2222) return 5;
      return 0;
    case 90: return b > 2222 ? 8 : 0;
    default: return 0;
  }
}

}  // namespace hkbps2
