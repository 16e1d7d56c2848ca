// Whole files as bytes, for test programs and stand-ins alike (header only,
// nothing to link). Every open lets others read, write and delete the file,
// so a test can read what a stand-in is still writing.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "hkb/unique.h"

namespace hkbtest {

// The file's bytes; empty when it is missing.
inline std::string ReadFileBytes(const std::wstring& path) {
  std::string out;
  if (path.empty()) return out;
  hkb::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  if (!file) return out;
  char buf[4096];
  DWORD got = 0;
  while (::ReadFile(file.get(), buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  return out;
}

// Replaces the file with `data`; false when it cannot be written whole.
inline bool WriteFileBytes(const std::wstring& path, std::string_view data) {
  hkb::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD put = 0;
  return ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
         put == data.size();
}

// Appends `data` to the file (created when missing) in one write, so that the
// lines of several writers, in one process or several, do not mix.
inline bool AppendFileBytes(const std::wstring& path, std::string_view data) {
  if (path.empty()) return false;
  hkb::UniqueFile file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  DWORD put = 0;
  return ::WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
         put == data.size();
}

}  // namespace hkbtest
