// Waiting until a condition holds, with a ceiling: plain C++, for native
// tests, Windows tests and stand-ins alike (header only). Tests pass generous
// ceilings: the wait ends as soon as the condition holds.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace hkbtest {

// The ceiling for anything a test waits for that is due to happen, on a
// loaded machine.
inline constexpr std::chrono::milliseconds kCeiling = std::chrono::seconds(60);

// Checks `done` until it holds or `timeout` has passed; whether it came
// true. Between two checks `pause` runs (it should wait a little: a sleep, or
// a wait for messages); by default a sleep of 10 ms.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kCeiling,
                      const std::function<void()>& pause = {}) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    if (pause)
      pause();
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace hkbtest
