#include "hkbtest/leaks.h"

#include <psapi.h>

#include <vector>

namespace hkbtest {

HeapUse ProcessHeapUse() {
  HeapUse use;
  const HANDLE heap = ::GetProcessHeap();
  ::HeapLock(heap);
  PROCESS_HEAP_ENTRY entry = {};
  while (::HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
      ++use.blocks;
      use.bytes += entry.cbData;
    }
  }
  ::HeapUnlock(heap);
  return use;
}

long GdiFreeSlots() {
  std::vector<HRGN> made;
  made.reserve(70000);
  for (;;) {
    HRGN r = made.size() < 200000 ? ::CreateRectRgn(0, 0, 1, 1) : nullptr;
    if (!r) break;
    made.push_back(r);
  }
  for (HRGN r : made) ::DeleteObject(r);
  return static_cast<long>(made.size());
}

DWORD OpenHandlesProbed() {
  DWORD count = 0;
  for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
    DWORD flags = 0;
    if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

ResourceUse MeasureResources() {
  ResourceUse u;
  const HANDLE self = ::GetCurrentProcess();
  const DWORD gdi = ::GetGuiResources(self, GR_GDIOBJECTS);
  u.gdiProbed = gdi == 0;
  u.gdi = u.gdiProbed ? -GdiFreeSlots() : static_cast<long>(gdi);
  u.user = ::GetGuiResources(self, GR_USEROBJECTS);
  DWORD handles = 0;
  u.handlesProbed = !::GetProcessHandleCount(self, &handles) || handles == 0;
  u.handles = u.handlesProbed ? OpenHandlesProbed() : handles;
  PROCESS_MEMORY_COUNTERS_EX mem = {};
  mem.cb = sizeof mem;
  if (::GetProcessMemoryInfo(self, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mem), sizeof mem))
    u.privateBytes = mem.PrivateUsage ? mem.PrivateUsage : mem.PagefileUsage;  // Wine: PagefileUsage
  u.heap = ProcessHeapUse();
  return u;
}

}  // namespace hkbtest
