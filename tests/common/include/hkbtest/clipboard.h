// The clipboard's text as a test or a stand-in reads and sets it (header
// only, nothing to link).
#pragma once

#include <windows.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

#include "hkbtest/wait.h"

namespace hkbtest {

// The clipboard's Unicode text, opened for `owner`; nullopt when it holds
// none, "(clipboard busy)" when another process kept it open for a second.
inline std::optional<std::wstring> ClipboardText(HWND owner = nullptr) {
  if (!WaitUntil([&] { return ::OpenClipboard(owner) != FALSE; }, std::chrono::seconds(1)))
    return std::wstring(L"(clipboard busy)");
  std::optional<std::wstring> text;
  if (HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    if (const auto* p = static_cast<const wchar_t*>(::GlobalLock(data))) {
      text = std::wstring(p);
      ::GlobalUnlock(data);
    }
  }
  ::CloseClipboard();
  return text;
}

// The clipboard holding `text` in place of what it held; false when it could
// not be opened within a second or not be set.
inline bool SetClipboardText(const std::wstring& text, HWND owner = nullptr) {
  if (!WaitUntil([&] { return ::OpenClipboard(owner) != FALSE; }, std::chrono::seconds(1))) return false;
  ::EmptyClipboard();
  bool ok = false;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* p = ::GlobalLock(block)) {
      std::memcpy(p, text.c_str(), bytes);
      ::GlobalUnlock(block);
      ok = ::SetClipboardData(CF_UNICODETEXT, block) != nullptr;
    }
    if (!ok) ::GlobalFree(block);
  }
  ::CloseClipboard();
  return ok;
}

}  // namespace hkbtest
