// The catalogue's plain decisions: the order-free keyword test and its
// character classes, the exclusion rules of Store and desktop apps, letter-case
// folding, the "ms-resource:" indirect-string forms and the number texts of
// the catalogue file. No Windows header: this builds natively for the unit
// tests and the fuzz target as well as into the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace hkbh {

// ---------------------------------------------------------------------------
// Letters.

// Folds A-Z to a-z and leaves every other character as it is.
wchar_t FoldChar(wchar_t c);
std::wstring FoldLower(std::wstring_view s);
void FoldLowerInPlace(std::wstring& s);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);
bool StartsWith(std::wstring_view s, std::wstring_view prefix);

// ---------------------------------------------------------------------------
// The keyword test.

// "/", 0-9, A-Z, "_" and a-z: the characters that make up words.
bool IsWordChar(wchar_t c);
// "\" and the kana, kanji, full-width digit/letter and half-width katakana
// ranges: characters that count one by one.
bool IsSignificantChar(wchar_t c);
// True when every word (case-sensitive, as a substring) and every significant
// character of `searched` occurs somewhere in `other`, in any order.
bool IsSubStrNoOrder(std::wstring_view searched, std::wstring_view other);

// ---------------------------------------------------------------------------
// Name index.

// The position of the first entry under each name of a list that only grows
// at its end or is emptied, so that a lookup need not compare every entry.
// Names compare exactly, or ignoring letter case as EqualsNoCase does. The
// index keeps views: the names must stay in place while they are indexed.
// An empty name is never found, and entries with an empty name are passed
// over, as the comparisons it stands in for never match them.
class NameIndex {
 public:
  explicit NameIndex(bool ignore_case);

  // How many entries of the list it has taken: the position of the next one.
  size_t covered() const { return m_covered; }
  // Takes the list's next entry. Throws std::bad_alloc, leaving the index as
  // it was.
  void Append(std::wstring_view name);
  std::optional<size_t> Find(std::wstring_view name) const;
  void Clear();

 private:
  struct Hash {
    bool ignore_case;
    size_t operator()(std::wstring_view name) const noexcept;
  };
  struct Equal {
    bool ignore_case;
    bool operator()(std::wstring_view a, std::wstring_view b) const noexcept;
  };
  std::unordered_map<std::wstring_view, size_t, Hash, Equal> m_first;
  size_t m_covered = 0;
};

// ---------------------------------------------------------------------------
// Exclusion list: ordered, no two entries equal ignoring letter case.

using NameList = std::vector<std::wstring>;

enum class AddResult { Added, AlreadyPresent };
// Appends `name` unless an entry equal to it ignoring case is there already.
// Throws std::bad_alloc when the list cannot grow.
AddResult AddExcludeName(NameList& list, std::wstring_view name);

// What an app contributed: the result of its last add, if it added anything.
struct ExcludeOutcome {
  bool exact = false;
  std::optional<AddResult> last_add;
};

// The rules for one Store app. `keyword` is folded already; `covers(a, b)` is
// the keyword test with pattern a and text b (the library passes its traced
// form). Throws std::bad_alloc from the list.
template <class Covers>
ExcludeOutcome ExcludeMetroApp(std::wstring_view keyword, std::wstring_view display,
                               std::wstring_view ruby_display, std::wstring_view short_name,
                               std::wstring_view ruby_short, NameList& list, Covers&& covers) {
  ExcludeOutcome out;
  if (display.empty() || EqualsNoCase(display, keyword)) return out;
  if (covers(keyword, display)) {
    if (covers(display, keyword))
      out.exact = true;
    else
      out.last_add = AddExcludeName(list, display);
  }
  if (!ruby_display.empty() && covers(keyword, ruby_display)) out.last_add = AddExcludeName(list, display);
  if (!short_name.empty()) {
    if (covers(keyword, short_name)) {
      if (covers(short_name, keyword))
        out.exact = true;
      else
        out.last_add = AddExcludeName(list, short_name);
    }
    if (!ruby_short.empty() && covers(keyword, ruby_short)) out.last_add = AddExcludeName(list, short_name);
  }
  return out;
}

// The rules for one installed desktop app; `name` is its LocalizeName when
// that is set, else its DisplayName.
template <class Covers>
ExcludeOutcome ExcludeDesktopApp(std::wstring_view keyword, std::wstring_view name, std::wstring_view ruby,
                                 bool dual_mode, NameList& list, Covers&& covers) {
  ExcludeOutcome out;
  if (name.empty()) return out;
  if (EqualsNoCase(name, keyword)) {
    out.exact = !dual_mode;
    return out;
  }
  if (covers(keyword, name)) {
    if (covers(name, keyword))
      out.exact = true;
    else
      out.last_add = AddExcludeName(list, name);
  }
  if (!ruby.empty() && covers(keyword, ruby)) out.last_add = AddExcludeName(list, name);
  return out;
}

// ---------------------------------------------------------------------------
// "ms-resource:" references.

inline constexpr std::wstring_view kMsResource = L"ms-resource:";

// The indirect strings handed to the platform's resolution for a reference
// that is folded to lower case already. `second` is empty when there is no
// second try. False when the reference is not an "ms-resource:" one.
struct IndirectForms {
  std::wstring first;
  std::wstring second;
};
bool BuildIndirectForms(std::wstring_view folded_reference, std::wstring_view full_name,
                        std::wstring_view name, IndirectForms& out);

// ---------------------------------------------------------------------------
// Number texts of the catalogue file.

// Held in the order the catalogue keeps it; the text puts Build before Revision.
struct PackageVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t revision = 0;
  uint16_t build = 0;
  friend bool operator==(const PackageVersion&, const PackageVersion&) = default;
};
// "Major.Minor.Build.Revision" read the way "%hu.%hu.%hu.%hu" reads it: each
// part modulo 65 536; parts that are missing or do not parse stay 0, and
// reading stops at the first part that does not parse.
PackageVersion ParseVersionText(std::wstring_view text);
std::wstring FormatVersionText(const PackageVersion& v);
// The same text into a buffer that holds the longest ("65535.65535.65535.65535").
inline constexpr size_t kVersionTextChars = 24;
void FormatVersionText(const PackageVersion& v, wchar_t (&out)[kVersionTextChars]);

// A flag attribute read the way "%d" reads it: the truth of the number, or
// nothing when the text does not start with a number.
std::optional<bool> ParseFlagText(std::wstring_view text);

// ---------------------------------------------------------------------------
// Names.

// The executable's file name cut at its first ".": "C:\x\Btn.Svc.exe" gives "Btn".
std::wstring ExecutableBaseName(std::wstring_view path);

// ---------------------------------------------------------------------------
// The save's temporary files.

// The save writes the new catalogue to a temporary file in the catalogue's
// folder (GetTempFileNameW with this prefix) and then renames it over the
// catalogue file.
inline constexpr wchar_t kCatalogueTempPrefix[] = L"anl";
// True for a file name the save's temporary files carry: the prefix, one to
// four hexadecimal digits and ".tmp", ignoring letter case.
bool IsCatalogueTempName(std::wstring_view fileName);

}  // namespace hkbh
