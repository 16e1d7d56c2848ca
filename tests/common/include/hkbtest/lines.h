// Counting in line-based records (traces, result files): plain C++.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hkbtest {

inline bool StartsWith(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0;
}

// The lines that start with `prefix`, in order.
inline std::vector<std::string> LinesWith(const std::vector<std::string>& lines, const std::string& prefix) {
  std::vector<std::string> out;
  for (const std::string& l : lines) {
    if (StartsWith(l, prefix)) out.push_back(l);
  }
  return out;
}

inline size_t CountLinesWith(const std::vector<std::string>& lines, const std::string& prefix) {
  size_t n = 0;
  for (const std::string& l : lines) n += StartsWith(l, prefix) ? 1 : 0;
  return n;
}

}  // namespace hkbtest
