// Splitting and counting line-based records (traces, scenarios, result
// files): plain C++, for tests and stand-ins alike.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace hkbtest {

// The pieces of `text` between separators, empty ones too (at least one).
inline std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> out;
  for (size_t at = 0;;) {
    const size_t end = text.find(separator, at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return out;
    at = end + 1;
  }
}

// The lines of `text`, without their line feeds and a carriage return before
// one; a final line feed ends the last line rather than starting an empty one.
inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(std::move(line));
    at = end + 1;
  }
  return out;
}

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
