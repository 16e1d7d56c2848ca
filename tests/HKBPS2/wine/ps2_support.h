// Helpers for the PS/2 library's tests under Wine: the filter driver
// stand-in (install, queue reports, counters), report building, child
// processes and registry scopes.
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

// A registry key created for the scope and removed afterwards, with the
// parent keys that the scope created.
class ScopedRegKey {
 public:
  ScopedRegKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
  ~ScopedRegKey();
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  bool ok() const { return m_ok; }
  HKEY get() const { return m_key.get(); }

 private:
  HKEY m_root;
  REGSAM m_view;
  std::vector<std::wstring> m_created;  // outermost first
  hkb::UniqueKey m_key;
  bool m_ok = false;
};

bool KeyExists(HKEY root, const std::wstring& path);

// Busy blocks of the process heap and their bytes.
struct HeapUse {
  size_t blocks = 0;
  size_t bytes = 0;
};
HeapUse ProcessHeapUse();

// The value the next new handle gets (the probe handle is closed again).
uintptr_t NextHandleValue();

}  // namespace ps2test
