// Waiting for a condition while the calling thread's messages are dispatched.
#pragma once

#include <chrono>
#include <functional>

namespace hkbtest {

// Dispatches the calling thread's messages until `done` or the timeout;
// whether `done` came true. Tests pass generous timeouts: it returns as soon
// as the condition holds.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Dispatches for a while; for checks that something does not happen.
void PumpFor(std::chrono::milliseconds duration);

}  // namespace hkbtest
