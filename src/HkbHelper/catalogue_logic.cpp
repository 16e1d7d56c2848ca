#include "catalogue_logic.h"

namespace hkbh {

wchar_t FoldChar(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

std::wstring FoldLower(std::wstring_view s) {
  std::wstring out(s);
  FoldLowerInPlace(out);
  return out;
}

void FoldLowerInPlace(std::wstring& s) {
  for (wchar_t& c : s) c = FoldChar(c);
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  if (a == b) return true;  // the usual case (names as the file writes them), compared as a block
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldChar(a[i]) != FoldChar(b[i])) return false;
  }
  return true;
}

NameIndex::NameIndex(bool ignore_case) : m_first(0, Hash{ignore_case}, Equal{ignore_case}) {}

size_t NameIndex::Hash::operator()(std::wstring_view name) const noexcept {
  // FNV-1a over the units, folded first when case is ignored, so that names
  // equal ignoring case hash alike.
  uint64_t h = 14695981039346656037ull;
  for (const wchar_t c : name) {
    h ^= static_cast<uint64_t>(ignore_case ? FoldChar(c) : c);
    h *= 1099511628211ull;
  }
  return static_cast<size_t>(h);
}

bool NameIndex::Equal::operator()(std::wstring_view a, std::wstring_view b) const noexcept {
  return ignore_case ? EqualsNoCase(a, b) : a == b;
}

void NameIndex::Append(std::wstring_view name) {
  if (!name.empty()) m_first.try_emplace(name, m_covered);  // an earlier entry of that name stays
  ++m_covered;
}

std::optional<size_t> NameIndex::Find(std::wstring_view name) const {
  if (name.empty()) return std::nullopt;
  const auto it = m_first.find(name);
  if (it == m_first.end()) return std::nullopt;
  return it->second;
}

void NameIndex::Clear() {
  m_first.clear();
  m_covered = 0;
}

bool StartsWith(std::wstring_view s, std::wstring_view prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool IsWordChar(wchar_t c) {
  return c == L'/' || (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || c == L'_' ||
         (c >= L'a' && c <= L'z');
}

bool IsSignificantChar(wchar_t c) {
  const uint32_t u = static_cast<uint32_t>(c);
  return u == 0x005C ||                   // backslash
         (u >= 0x3041 && u <= 0x30FF) ||  // hiragana, katakana
         (u >= 0x3400 && u <= 0x4DB5) ||  // kanji extension A
         (u >= 0x4E00 && u <= 0x9FC3) ||  // kanji
         (u >= 0xF900 && u <= 0xFA2D) ||  // compatibility kanji
         (u >= 0xFA30 && u <= 0xFA6A) ||  //
         (u >= 0xFF10 && u <= 0xFF19) ||  // full-width digits
         (u >= 0xFF21 && u <= 0xFF3A) ||  // full-width capitals
         (u >= 0xFF41 && u <= 0xFF5A) ||  // full-width small letters
         (u >= 0xFF66 && u <= 0xFF9F);    // half-width katakana
}

bool IsSubStrNoOrder(std::wstring_view searched, std::wstring_view other) {
  size_t i = 0;
  while (i < searched.size()) {
    const wchar_t c = searched[i];
    if (IsWordChar(c)) {
      size_t end = i + 1;
      while (end < searched.size() && IsWordChar(searched[end])) ++end;
      if (other.find(searched.substr(i, end - i)) == std::wstring_view::npos) return false;
      i = end;
    } else {
      if (IsSignificantChar(c) && other.find(c) == std::wstring_view::npos) return false;
      ++i;
    }
  }
  return true;
}

AddResult AddExcludeName(NameList& list, std::wstring_view name) {
  for (const std::wstring& entry : list) {
    if (EqualsNoCase(entry, name)) return AddResult::AlreadyPresent;
  }
  list.emplace_back(name);
  return AddResult::Added;
}

bool BuildIndirectForms(std::wstring_view ref, std::wstring_view full_name, std::wstring_view name,
                        IndirectForms& out) {
  static constexpr std::wstring_view kRooted = L"ms-resource:///";
  out.first.clear();
  out.second.clear();
  if (StartsWith(ref, kRooted)) {
    const std::wstring_view kept = ref.substr(kRooted.size());
    out.first.append(L"@{").append(full_name).append(L"?ms-resource://").append(name).append(L"/");
    out.first.append(kept).append(L"}");
    return true;
  }
  if (!StartsWith(ref, kMsResource)) return false;
  std::wstring_view kept = ref.substr(kMsResource.size());
  while (!kept.empty() && kept.front() == L'/') kept.remove_prefix(1);
  while (!kept.empty() && kept.back() == L'/') kept.remove_suffix(1);
  out.first.append(L"@{").append(full_name).append(L"?ms-resource://").append(name).append(L"/resources/");
  out.first.append(kept).append(L"}");
  out.second.append(L"@{").append(full_name).append(L"? ms-resource://").append(name).append(L"/");
  out.second.append(kept).append(L"}");
  return true;
}

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

// One integer conversion the way the scanf family does it: blanks, an optional
// sign, at least one decimal digit. The value wraps as the runtime's
// accumulator does, which for the 16- and 32-bit targets is arithmetic modulo
// a power of two.
bool ScanInteger(std::wstring_view text, size_t& pos, uint32_t& value) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  const size_t digits_start = pos;
  uint32_t v = 0;
  while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9') {
    v = v * 10u + static_cast<uint32_t>(text[pos] - L'0');
    ++pos;
  }
  if (pos == digits_start) return false;
  value = negative ? 0u - v : v;
  return true;
}

}  // namespace

PackageVersion ParseVersionText(std::wstring_view text) {
  uint16_t parts[4] = {0, 0, 0, 0};
  size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) {
      if (pos >= text.size() || text[pos] != L'.') break;
      ++pos;
    }
    uint32_t v = 0;
    if (!ScanInteger(text, pos, v)) break;
    parts[i] = static_cast<uint16_t>(v & 0xFFFFu);
  }
  PackageVersion out;
  out.major = parts[0];
  out.minor = parts[1];
  out.build = parts[2];
  out.revision = parts[3];
  return out;
}

void FormatVersionText(const PackageVersion& v, wchar_t (&out)[kVersionTextChars]) {
  size_t at = 0;
  for (const uint16_t part : {v.major, v.minor, v.build, v.revision}) {
    if (at > 0) out[at++] = L'.';
    wchar_t digits[5];
    size_t n = 0;
    uint16_t rest = part;
    do {
      digits[n++] = static_cast<wchar_t>(L'0' + rest % 10);
      rest = static_cast<uint16_t>(rest / 10);
    } while (rest != 0);
    while (n > 0) out[at++] = digits[--n];
  }
  out[at] = L'\0';
}

std::wstring FormatVersionText(const PackageVersion& v) {
  wchar_t text[kVersionTextChars];
  FormatVersionText(v, text);
  return text;
}

std::optional<bool> ParseFlagText(std::wstring_view text) {
  size_t pos = 0;
  uint32_t v = 0;
  if (!ScanInteger(text, pos, v)) return std::nullopt;
  return v != 0;
}

std::wstring ExecutableBaseName(std::wstring_view path) {
  const size_t slash = path.find_last_of(L"\\/");
  std::wstring_view file = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
  const size_t dot = file.find(L'.');
  if (dot != std::wstring_view::npos) file = file.substr(0, dot);
  return std::wstring(file);
}

bool IsCatalogueTempName(std::wstring_view fileName) {
  const std::wstring_view prefix = kCatalogueTempPrefix;
  constexpr std::wstring_view kSuffix = L".tmp";
  if (fileName.size() <= prefix.size() + kSuffix.size()) return false;
  if (!EqualsNoCase(fileName.substr(0, prefix.size()), prefix)) return false;
  if (!EqualsNoCase(fileName.substr(fileName.size() - kSuffix.size()), kSuffix)) return false;
  const std::wstring_view digits =
      fileName.substr(prefix.size(), fileName.size() - prefix.size() - kSuffix.size());
  if (digits.size() > 4) return false;
  for (const wchar_t c : digits) {
    const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
    if (!hex) return false;
  }
  return true;
}

}  // namespace hkbh
