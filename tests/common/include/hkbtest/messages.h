// Window messages as tests expect them, for native tests (a decoder's posts)
// and Windows tests (what reached a window) alike: no Windows header needed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace hkbtest {

struct Msg {
  uint32_t msg;
  uintptr_t wParam;
  intptr_t lParam;
  bool operator==(const Msg&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Msg& m) {
  return os << "{" << m.msg << ", " << m.wParam << ", " << m.lParam << "}";
}

// The messages from index `from` on (none when there are fewer).
inline std::vector<Msg> MessagesFrom(const std::vector<Msg>& all, size_t from) {
  if (from >= all.size()) return {};
  return std::vector<Msg>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

}  // namespace hkbtest
