// Environment variables and the temporary folder, for test programs and
// stand-ins alike (header only, nothing to link).
#pragma once

#include <windows.h>

#include <string>

namespace hkbtest {

// The variable's value; empty when it is not set.
inline std::wstring Env(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (n == 0) return {};
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n counts the terminator when the buffer was too small
  }
}

// The process's temporary folder, ending in a backslash.
inline std::wstring TempFolder() {
  wchar_t dir[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, dir);
  std::wstring out(dir, n <= MAX_PATH ? n : 0);
  if (!out.empty() && out.back() != L'\\') out += L'\\';
  return out;
}

}  // namespace hkbtest
