// The server's registration switch against a plain reference (the line ends
// in "-" or "/" and one of the two switch words, in any letter case), and the
// status library's path, which turns back into the program path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "hkbtest/fuzz_input.h"
#include "keydb_logic.h"

namespace {

using hkbtest::FuzzCheck;

bool EndsWithSwitch(std::u16string_view line, std::u16string_view word) {
  if (line.size() < word.size() + 1) return false;
  const std::u16string_view tail = line.substr(line.size() - word.size());
  for (size_t i = 0; i < word.size(); ++i) {
    const char16_t c = tail[i] >= u'A' && tail[i] <= u'Z' ? char16_t(tail[i] + 32) : tail[i];
    if (c != word[i]) return false;
  }
  const char16_t before = line[line.size() - word.size() - 1];
  return before == u'-' || before == u'/';
}

std::u16string ReplaceAll(std::u16string s, std::u16string_view from, std::u16string_view to) {
  for (size_t at = s.find(from); at != std::u16string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hkbtest::FuzzInput in(data, size);
  std::u16string line = in.Text();
  // Often end the line in a switch word, so that the near misses come up.
  static const char16_t* const kTails[] = {u"RegServer", u"unregserver", u"/REGSERVER", u"-UnregServer "};
  const uint8_t tail = in.Byte();
  if (tail < 4) line += kTails[tail];
  keydb::Switch want = keydb::Switch::kNone;
  if (EndsWithSwitch(line, u"unregserver"))
    want = keydb::Switch::kUnregServer;
  else if (EndsWithSwitch(line, u"regserver"))
    want = keydb::Switch::kRegServer;
  FuzzCheck(keydb::FindRegistrationSwitch(line) == want);

  // A lower-cased program path, sometimes with the program's name in it.
  std::u16string path = in.Text();
  for (char16_t& c : path)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  const uint32_t where = in.Below(static_cast<uint32_t>(path.size() + 1));
  if (in.Byte() & 1) path.insert(where, u"keydbwrapper.exe");
  const std::u16string library = keydb::StatusLibraryPath(path);
  const bool named = path.find(u"keydbwrapper.exe") != std::u16string::npos;
  FuzzCheck(library.empty() == !named);
  if (named) {
    FuzzCheck(library.find(u"keydbwrapper.exe") == std::u16string::npos);
    FuzzCheck(ReplaceAll(library, u"KeyDb.dll", u"keydbwrapper.exe") == path);
  }
  return 0;
}
