// Move-only owners for Win32 handles, keys, modules, service handles and GDI
// objects. Member names follow the standard library's smart pointers (get,
// reset, release), so that these read like std::unique_ptr.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <memory>
#include <utility>

namespace hkb {

// Traits: `type`, `invalid()` and `close(type)`.
template <class Traits>
class Unique {
 public:
  using type = typename Traits::type;

  Unique() noexcept = default;
  explicit Unique(type value) noexcept : m_value(value) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& other) noexcept : m_value(other.release()) {}
  Unique& operator=(Unique&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Unique() { reset(); }

  type get() const noexcept { return m_value; }
  explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

  type release() noexcept { return std::exchange(m_value, Traits::invalid()); }
  void reset(type value = Traits::invalid()) noexcept {
    type old = std::exchange(m_value, value);
    if (old != Traits::invalid()) Traits::close(old);
  }
  // For APIs that return the value through an out-pointer; closes what was held.
  type* put() noexcept {
    reset();
    return &m_value;
  }

 private:
  type m_value = Traits::invalid();
};

struct HandleTraits {
  using type = HANDLE;
  static type invalid() noexcept { return nullptr; }
  static void close(type h) noexcept { ::CloseHandle(h); }
};
// CreateFileW and friends report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using type = HANDLE;
  static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { ::CloseHandle(h); }
};
// A directory search (FindFirstFileW and friends), which reports failure as
// INVALID_HANDLE_VALUE and is ended with FindClose: CloseHandle does not end
// it and leaves the search's memory and its open folder behind.
struct FindTraits {
  using type = HANDLE;
  static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(type h) noexcept { ::FindClose(h); }
};
struct KeyTraits {
  using type = HKEY;
  static type invalid() noexcept { return nullptr; }
  static void close(type k) noexcept { ::RegCloseKey(k); }
};
struct ModuleTraits {
  using type = HMODULE;
  static type invalid() noexcept { return nullptr; }
  static void close(type m) noexcept { ::FreeLibrary(m); }
};
struct GdiTraits {
  using type = HGDIOBJ;
  static type invalid() noexcept { return nullptr; }
  static void close(type o) noexcept { ::DeleteObject(o); }
};
struct RegionTraits {
  using type = HRGN;
  static type invalid() noexcept { return nullptr; }
  static void close(type r) noexcept { ::DeleteObject(r); }
};
struct FontTraits {
  using type = HFONT;
  static type invalid() noexcept { return nullptr; }
  static void close(type f) noexcept { ::DeleteObject(f); }
};
struct BrushTraits {
  using type = HBRUSH;
  static type invalid() noexcept { return nullptr; }
  static void close(type b) noexcept { ::DeleteObject(b); }
};
struct MemDcTraits {
  using type = HDC;
  static type invalid() noexcept { return nullptr; }
  static void close(type dc) noexcept { ::DeleteDC(dc); }
};
// A global memory block (GlobalAlloc); one handed to the clipboard is released
// from its owner first.
struct GlobalTraits {
  using type = HGLOBAL;
  static type invalid() noexcept { return nullptr; }
  static void close(type g) noexcept { ::GlobalFree(g); }
};
struct ServiceTraits {
  using type = SC_HANDLE;
  static type invalid() noexcept { return nullptr; }
  static void close(type s) noexcept { ::CloseServiceHandle(s); }
};
struct WindowTraits {
  using type = HWND;
  static type invalid() noexcept { return nullptr; }
  static void close(type w) noexcept { ::DestroyWindow(w); }
};

using UniqueHandle = Unique<HandleTraits>;
using UniqueFile = Unique<FileHandleTraits>;
using UniqueFind = Unique<FindTraits>;
using UniqueKey = Unique<KeyTraits>;
using UniqueModule = Unique<ModuleTraits>;
using UniqueGdi = Unique<GdiTraits>;
using UniqueRegion = Unique<RegionTraits>;
using UniqueFont = Unique<FontTraits>;
using UniqueBrush = Unique<BrushTraits>;
using UniqueMemDc = Unique<MemDcTraits>;
using UniqueService = Unique<ServiceTraits>;
using UniqueWindow = Unique<WindowTraits>;
using UniqueGlobal = Unique<GlobalTraits>;

// Memory the system allocated with LocalAlloc and hands to the caller to
// free (CommandLineToArgvW, FormatMessageW, PowerGetActiveScheme, ...), or a
// LocalAlloc block of one's own: LocalPtr<wchar_t> for a string,
// LocalPtr<LPWSTR> for an argument vector.
struct LocalFreer {
  void operator()(void* p) const noexcept { ::LocalFree(p); }
};
template <class T>
using LocalPtr = std::unique_ptr<T, LocalFreer>;

// A window DC from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND wnd) noexcept : m_wnd(wnd), m_dc(::GetDC(wnd)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  ~WindowDc() {
    if (m_dc) ::ReleaseDC(m_wnd, m_dc);
  }
  HDC get() const noexcept { return m_dc; }
  explicit operator bool() const noexcept { return m_dc != nullptr; }

 private:
  HWND m_wnd;
  HDC m_dc;
};

// The clipboard opened for a scope (OpenClipboard) and closed at its end.
class ClipboardOpen {
 public:
  explicit ClipboardOpen(HWND owner = nullptr) noexcept : m_open(::OpenClipboard(owner) != FALSE) {}
  ClipboardOpen(const ClipboardOpen&) = delete;
  ClipboardOpen& operator=(const ClipboardOpen&) = delete;
  ~ClipboardOpen() { close(); }
  explicit operator bool() const noexcept { return m_open; }
  void close() noexcept {
    if (m_open) ::CloseClipboard();
    m_open = false;
  }

 private:
  bool m_open;
};

// A global memory block locked for a scope.
class GlobalLockScope {
 public:
  explicit GlobalLockScope(HGLOBAL block) noexcept : m_block(block), m_p(::GlobalLock(block)) {}
  GlobalLockScope(const GlobalLockScope&) = delete;
  GlobalLockScope& operator=(const GlobalLockScope&) = delete;
  ~GlobalLockScope() { unlock(); }
  void* get() const noexcept { return m_p; }
  void unlock() noexcept {
    if (m_p) ::GlobalUnlock(m_block);
    m_p = nullptr;
  }

 private:
  HGLOBAL m_block;
  void* m_p;
};

// Selects an object into a DC and puts the previous one back.
class SelectObjectScope {
 public:
  SelectObjectScope(HDC dc, HGDIOBJ obj) noexcept : m_dc(dc), m_old(::SelectObject(dc, obj)) {}
  SelectObjectScope(const SelectObjectScope&) = delete;
  SelectObjectScope& operator=(const SelectObjectScope&) = delete;
  ~SelectObjectScope() {
    if (m_old && m_old != HGDI_ERROR) ::SelectObject(m_dc, m_old);
  }

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};

}  // namespace hkb
