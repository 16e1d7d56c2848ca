// Reading one registry value into a typed, bounded result. The key is opened
// for reading and closed again; what was read is reported whole (the status,
// the value's type and its size), because callers differ in what they accept.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cwchar>
#include <optional>
#include <string>

#include "hkb/unique.h"

namespace hkb {

// A value of at most four bytes. `status` is that of the open or the read
// (ERROR_MORE_DATA for a larger value); a shorter value fills the low bytes.
struct RegDword {
  bool opened = false;  // the key was there and could be read
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  DWORD size = 0;
  DWORD value = 0;
  // Read, and really a REG_DWORD.
  bool is_dword() const noexcept {
    return status == ERROR_SUCCESS && type == REG_DWORD && size == sizeof(DWORD);
  }
};

inline RegDword ReadRegDword(HKEY root, const wchar_t* subKey, const wchar_t* name) noexcept {
  RegDword read;
  UniqueKey key;
  read.status = ::RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.put());
  if (read.status != ERROR_SUCCESS) return read;
  read.opened = true;
  read.size = sizeof read.value;
  read.status = ::RegQueryValueExW(key.get(), name, nullptr, &read.type, reinterpret_cast<BYTE*>(&read.value),
                                   &read.size);
  if (read.status != ERROR_SUCCESS) read.value = 0;
  return read;
}

// A value read as text into a buffer of N units, whatever its stored type:
// the text up to its first terminator or the end of the data, so a value
// stored without one is still ended. Empty when the key or value is missing
// or the data does not fit.
template <std::size_t N>
std::optional<std::wstring> ReadRegText(HKEY root, const wchar_t* subKey, const wchar_t* name) {
  UniqueKey key;
  if (::RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return std::nullopt;
  wchar_t buffer[N] = {};
  DWORD size = sizeof buffer;
  if (::RegQueryValueExW(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buffer, ::wcsnlen(buffer, size / sizeof(wchar_t)));
}

}  // namespace hkb
