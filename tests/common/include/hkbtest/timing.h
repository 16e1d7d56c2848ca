// Timing for the benchmarks: plain C++ (header only).
#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

namespace hkbtest {

// Milliseconds on the steady clock (the performance counter on Windows);
// only differences mean anything.
inline double NowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The middle one of the values (the upper middle of an even count); they must not be empty.
inline double Median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                   values.end());
  return values[values.size() / 2];
}

}  // namespace hkbtest
