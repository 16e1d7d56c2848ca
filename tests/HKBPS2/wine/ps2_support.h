// Helpers for the PS/2 library's tests under Wine: the filter driver
// stand-in (install, queue reports, counters), report building and child
// processes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <set>
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

 private:
  hkb::UniqueFile m_handle;
};

// Runs a program with no inherited handles and its output discarded; the
// exit code, or -1 when it could not be started or did not end in time.
int RunProgram(const std::wstring& command_line, DWORD timeout_ms = 60000);

// Threads of the current process.
std::set<DWORD> ThreadIds();
// Whether the thread's start address lies in the module's image.
bool StartsInModule(DWORD thread_id, HMODULE module);

}  // namespace ps2test
