// Registry scripts: the registration table of the server, written in the
// registrar's script language and embedded as resources, read here into a
// tree of keys and values. Plain C++; the texts are UTF-8.
//
// Grammar (words are separated by white space; a quoted word is 'text' with
// '' for a quote inside and is never a keyword):
//   script := { root '{' { entry } '}' }            root: HKCR, HKCU, HKLM, HKU or the long names
//   entry  := 'val' name '=' data                   a named value of the enclosing key
//           | [ 'NoRemove' | 'ForceRemove' ] name [ '=' data ] [ '{' { entry } '}' ]
//   data   := 's' text | 'd' number                 REG_SZ or REG_DWORD (decimal or 0x hex)
// A key's own "= data" is its default value. Replacements %NAME% are made
// before parsing (Expand).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rgs {

// What unregistration does with a key, and registration with one that exists.
enum class Removal {
  kNormal,       // registration writes into it; unregistration removes it with everything below
  kNoRemove,     // never removed; unregistration only walks into it
  kForceRemove,  // like kNormal, but registration first removes what was there
};

struct Value {
  std::string name;  // empty: the key's default value
  bool is_dword = false;
  std::string text;
  uint32_t dword = 0;
  bool operator==(const Value&) const = default;
};

struct Key {
  std::string name;
  Removal removal = Removal::kNormal;
  std::vector<Value> values;  // the default value, when given, first
  std::vector<Key> subkeys;
  bool operator==(const Key&) const = default;
};

struct Root {
  std::string name;  // canonical short form: HKCR, HKCU, HKLM, HKU
  std::vector<Key> keys;
};

using Replacements = std::vector<std::pair<std::string, std::string>>;

// Replaces each %NAME% (names compared without regard to letter case) by its
// text with every quote doubled, since replacements stand inside quoted
// words; "%%" is one "%". Nothing for an unknown name or an unclosed "%".
std::optional<std::string> Expand(std::string_view script, const Replacements& replacements);

// The roots of the script in order; nothing when the script does not follow
// the grammar or nests deeper than 32 levels.
std::optional<std::vector<Root>> Parse(std::string_view script);

// One line per value, "root\key\...\subkey|name|data" (name empty for the
// default value, data prefixed "s:" or "d:"), and "root\key\...|" for every
// key, in script order: the table as a list, for checks and for mirroring it.
std::vector<std::string> Flatten(const std::vector<Root>& roots);

}  // namespace rgs
