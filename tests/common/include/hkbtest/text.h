// UTF-16 and UTF-8 text for test programs and stand-ins alike (header only,
// nothing to link): records, traces and scenario files are UTF-8, Windows
// speaks UTF-16.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace hkbtest {

inline std::string Utf8(std::wstring_view s) {
  if (s.empty()) return {};
  const int size = static_cast<int>(s.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, s.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

inline std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), n);
  return out;
}

}  // namespace hkbtest
