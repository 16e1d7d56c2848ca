// The path of a loaded module (the program itself when no module is named),
// read into a caller's fixed buffer.
#pragma once

#include <windows.h>

#include <cstddef>

namespace hkb {

// Fills `out` with the module's full path and returns its length in units.
// Returns 0 and leaves `out` empty when the call fails or the path does not
// fit: GetModuleFileNameW then returns the buffer's size with the path cut
// short (unterminated on older systems), and a cut path names another file.
template <std::size_t N>
DWORD ModuleFileName(HMODULE module, wchar_t (&out)[N]) noexcept {
  static_assert(N > 1 && N <= 32768, "a module path buffer holds 2 to 32,768 units");
  const DWORD n = ::GetModuleFileNameW(module, out, static_cast<DWORD>(N));
  if (n == 0 || n >= N) {
    out[0] = L'\0';
    return 0;
  }
  return n;
}

// The folder of a path written by ModuleFileName: the path is cut at its last
// backslash (which goes). Returns the folder's length, 0 when the path has no
// folder (`out` is then left empty).
inline DWORD CutToFolder(wchar_t* path, DWORD length) noexcept {
  for (DWORD i = length; i > 0; --i) {
    if (path[i - 1] == L'\\') {
      path[i - 1] = L'\0';
      return i - 1;
    }
  }
  path[0] = L'\0';
  return 0;
}

}  // namespace hkb
