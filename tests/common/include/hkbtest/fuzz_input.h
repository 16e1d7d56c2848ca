// Reading a libFuzzer input as a stream of small decisions and UTF-16 texts,
// for the native fuzz targets. Header only, no Windows header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace hkbtest {

// Ends the run with a crash report when an invariant does not hold (an
// assert that stays in every build type).
inline void FuzzCheck(bool condition) {
  if (!condition) std::abort();
}

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  bool empty() const { return m_at >= m_size; }
  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  char16_t Unit() { return static_cast<char16_t>(Byte() | (Byte() << 8)); }
  // A number in 0..limit-1 (0 when limit is 0).
  uint32_t Below(uint32_t limit) {
    const uint32_t v = static_cast<uint32_t>(Byte()) | (static_cast<uint32_t>(Byte()) << 8);
    return limit == 0 ? 0 : v % limit;
  }
  // UTF-16 units up to the unit 0xFFFF or the end of the input.
  template <class String = std::u16string>
  String Text() {
    String s;
    while (!empty()) {
      const char16_t c = Unit();
      if (c == 0xFFFF) break;
      s.push_back(static_cast<typename String::value_type>(c));
    }
    return s;
  }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

}  // namespace hkbtest
