#include "hkbtest/pump.h"

#include <windows.h>

#include "hkbtest/wait.h"

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
  return WaitUntil(
      [&] {
        PumpOnce();
        return done();
      },
      timeout, [] { ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT); });
}

void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
  PumpOnce();
}

}  // namespace hkbtest
