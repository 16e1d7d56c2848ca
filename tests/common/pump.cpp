#include "hkbtest/pump.h"

#include <windows.h>

namespace hkbtest {

namespace {

void PumpOnce() {
  MSG m;
  while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&m);
    ::DispatchMessageW(&m);
  }
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
  for (;;) {
    PumpOnce();
    if (done()) return true;
    if (::GetTickCount64() >= end) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
  PumpOnce();
}

}  // namespace hkbtest
