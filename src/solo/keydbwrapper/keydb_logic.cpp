#include "keydb_logic.h"

namespace keydb {

namespace {

char16_t AsciiLower(char16_t c) noexcept { return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

}  // namespace

Switch FindRegistrationSwitch(std::u16string_view command_line) noexcept {
  for (size_t at = command_line.find_first_of(u"-/"); at != std::u16string_view::npos;
       at = command_line.find_first_of(u"-/", at + 1)) {
    const std::u16string_view rest = command_line.substr(at + 1);
    if (EqualsIgnoringCase(rest, u"UnregServer")) return Switch::kUnregServer;
    if (EqualsIgnoringCase(rest, u"RegServer")) return Switch::kRegServer;
  }
  return Switch::kNone;
}

std::u16string StatusLibraryPath(std::u16string_view lowered_path) {
  constexpr std::u16string_view kProgram = u"keydbwrapper.exe";
  constexpr std::u16string_view kLibrary = u"KeyDb.dll";
  std::u16string out;
  bool found = false;
  size_t from = 0;
  for (size_t at = lowered_path.find(kProgram); at != std::u16string_view::npos;
       at = lowered_path.find(kProgram, from)) {
    out.append(lowered_path.substr(from, at - from));
    out.append(kLibrary);
    from = at + kProgram.size();
    found = true;
  }
  if (!found) return {};
  out.append(lowered_path.substr(from));
  return out;
}

}  // namespace keydb
