// Helpers for the PS/2 library's tests under Wine: the filter driver
// stand-in (install, queue reports, counters, held reads, a missing name) and
// report building.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hkb/unique.h"
#include "hkbledfiltr_ioctl.h"

namespace ps2test {

using Report = std::vector<uint8_t>;  // 9 bytes

Report Kind1(uint8_t code, uint8_t second = 0);
Report Kind5(uint8_t code, uint8_t second = 0);
Report Kind2(uint8_t bits);
Report Kind4(uint8_t bits);
Report KindN(uint8_t kind, uint8_t bits, uint8_t code);

// The stand-in driver, installed as a kernel-driver service on first use.
class Driver {
 public:
  // Runs the 64-bit installer (idempotent) and opens the control handle.
  bool Open(std::string* error);
  bool Reset();
  bool Queue(const std::vector<Report>& reports);
  hkbtest_stats Stats();
  // The next read of the filter device stays pending until ReleaseRead (or
  // Reset, or the end of the handle it came on).
  bool HoldNextRead();
  bool ReleaseRead();
  // Takes the device's name away (opening it by name then fails as without
  // a device) or brings it back; it also comes back when this handle closes.
  bool HideDevice(bool hide);

 private:
  bool Control(DWORD code, const void* in = nullptr, DWORD inSize = 0);
  hkb::UniqueFile m_handle;
};

}  // namespace ps2test
