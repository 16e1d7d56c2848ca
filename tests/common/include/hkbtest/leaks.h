// Counting what a process holds, to catch leaks over many calls. Wine reports
// 0 from GetGuiResources and GetProcessHandleCount; the probes here count the
// same from outside: free GDI slots by creating objects until creation fails,
// open handles by asking for the flags of every small handle value, heap
// blocks by walking the process heap. Usable from tests and stand-ins alike.
#pragma once

#include <windows.h>

#include <cstddef>

namespace hkbtest {

// Busy blocks of the process heap and their bytes.
struct HeapUse {
  size_t blocks = 0;
  size_t bytes = 0;
};
HeapUse ProcessHeapUse();

// How many more GDI objects this process can create (each probe object is
// deleted again). Fewer free slots mean more objects in use.
long GdiFreeSlots();
// Open handles, counted by GetHandleInformation over the small handle values.
DWORD OpenHandlesProbed();

struct ResourceUse {
  long gdi = 0;  // objects in use; with the probe, minus the free slots
  bool gdiProbed = false;
  DWORD user = 0;  // USER objects (0 where the platform does not count them)
  DWORD handles = 0;
  bool handlesProbed = false;
  SIZE_T privateBytes = 0;
  HeapUse heap;
};
// Everything above in one reading; the platform's own counts where it has
// them, the probes where it reports 0.
ResourceUse MeasureResources();

}  // namespace hkbtest
