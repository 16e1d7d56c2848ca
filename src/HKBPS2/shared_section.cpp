#include "shared_section.h"

#include <windows.h>

namespace hkbps2 {

namespace {

struct SharedSection {
  LONG kbdbl;      // 1 when HKLM\Software\ZEV\KBDBL existed at the first load
  LONG loadCount;  // process attaches minus process detaches, system-wide
};
static_assert(sizeof(SharedSection) == 8);

__attribute__((section(".PROCESS"), shared)) volatile SharedSection s_shared = {0, 0};

LONG volatile* Field(volatile LONG& field) { return &field; }

}  // namespace

bool JoinHolders() { return ::InterlockedIncrement(Field(s_shared.loadCount)) == 1; }

void LeaveHolders() { ::InterlockedDecrement(Field(s_shared.loadCount)); }

bool KbdblPresent() { return ::InterlockedCompareExchange(Field(s_shared.kbdbl), 0, 0) != 0; }

void SetKbdblPresent(bool present) { ::InterlockedExchange(Field(s_shared.kbdbl), present ? 1 : 0); }

}  // namespace hkbps2
