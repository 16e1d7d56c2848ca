// Fuzz target for the keyword test, the exclusion rules and the reference
// builder: the input is split into UTF-16 units and cut into texts at U+0000.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "catalogue_logic.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> texts(1);
  for (size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t c = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (c == 0) {
      texts.emplace_back();
      if (texts.size() > 6) break;
    } else {
      texts.back().push_back(c);
    }
  }
  while (texts.size() < 6) texts.emplace_back();
  const std::wstring& a = texts[0];
  const std::wstring& b = texts[1];

  // Every word and significant character of a text occurs in the text itself
  // and in anything that contains it.
  Check(hkbh::IsSubStrNoOrder(a, a));
  Check(hkbh::IsSubStrNoOrder(a, b + a + b));
  Check(hkbh::IsSubStrNoOrder(L"", b));
  const bool covers = hkbh::IsSubStrNoOrder(a, b);
  (void)covers;

  // The exclusion list never holds two entries equal ignoring case, and an
  // app adds only its own names.
  hkbh::NameList list;
  const std::wstring keyword = hkbh::FoldLower(texts[2]);
  if (!keyword.empty()) {
    const std::wstring display = hkbh::FoldLower(a);
    const std::wstring short_name = hkbh::FoldLower(texts[3]);
    hkbh::ExcludeMetroApp(keyword, display, b, short_name, texts[4], list, hkbh::IsSubStrNoOrder);
    hkbh::ExcludeDesktopApp(keyword, texts[5], b, false, list, hkbh::IsSubStrNoOrder);
    for (size_t i = 0; i < list.size(); ++i) {
      Check(list[i] == display || list[i] == short_name || list[i] == texts[5]);
      for (size_t j = i + 1; j < list.size(); ++j) Check(!hkbh::EqualsNoCase(list[i], list[j]));
    }
  }

  // Reference forms enclose the identity and the kept part.
  hkbh::IndirectForms forms;
  if (hkbh::BuildIndirectForms(hkbh::FoldLower(a), texts[3], texts[4], forms)) {
    Check(forms.first.rfind(L"@{" + texts[3] + L"?ms-resource://" + texts[4] + L"/", 0) == 0);
    Check(!forms.first.empty() && forms.first.back() == L'}');
    Check(forms.second.empty() || forms.second.rfind(L"@{" + texts[3] + L"? ms-resource://", 0) == 0);
  } else {
    Check(forms.first.empty() && forms.second.empty());
  }

  // Number texts: whatever is read writes back and reads the same.
  const hkbh::PackageVersion v = hkbh::ParseVersionText(b);
  Check(hkbh::ParseVersionText(hkbh::FormatVersionText(v)) == v);
  // The text is the one "%d.%d.%d.%d" gives, as the catalogue file has always had it.
  wchar_t printed[64];
  std::swprintf(printed, 64, L"%d.%d.%d.%d", v.major, v.minor, v.build, v.revision);
  Check(hkbh::FormatVersionText(v) == printed);
  hkbh::ParseFlagText(b);
  return 0;
}
