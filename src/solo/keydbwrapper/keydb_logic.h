// The server's plain decisions: which registration switch the command line
// carries, where the status method finds KeyDb.dll, and the bounded copy of
// a database text into a caller's fixed buffer. No Windows header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace keydb {

enum class Switch { kNone, kRegServer, kUnregServer };

// Looks at every "-" and "/" of the whole command line: when the rest of the
// line after it is "UnregServer" or "RegServer" (in any letter case, and
// nothing after it), that is the switch. Anything else runs the server.
Switch FindRegistrationSwitch(std::u16string_view command_line) noexcept;

// From the lower-cased path of the server program: the same path with every
// "keydbwrapper.exe" replaced by "KeyDb.dll"; empty when there is none (the
// program runs under another file name).
std::u16string StatusLibraryPath(std::u16string_view lowered_path);

// Fixed buffers of the interface: 260 units, the terminator included.
inline constexpr size_t kTextUnits = 260;

// Copies a terminated text into `out` (capacity `units`) up to its
// terminator; a longer text is cut to units - 1 characters. `out` is always
// terminated. Returns the characters copied. `Unit` is any 16-bit unit type
// of the caller's buffer.
template <class Unit>
size_t CopyTerminated(const char16_t* text, Unit* out, size_t units) noexcept {
  static_assert(sizeof(Unit) == sizeof(char16_t));
  if (units == 0) return 0;
  size_t n = 0;
  for (; n + 1 < units && text[n] != 0; ++n) out[n] = static_cast<Unit>(text[n]);
  out[n] = 0;
  return n;
}

}  // namespace keydb
