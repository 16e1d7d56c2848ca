// The AppUserModelID split, the dependency match, the bounded paths and
// names, the executable base name, the search keyword and the GUID text of
// the runtime interfaces, each against a plain reference or a round trip.
#include <cstddef>
#include <cstdint>
#include <string>

#include "catalogue_logic.h"
#include "hkbtest/fuzz_input.h"
#include "package_rules.h"
#include "pinterface_iid.h"
#include "search_logic.h"

namespace {

using hkbtest::FuzzCheck;

void CheckSplit(const std::wstring& id) {
  const hkbh::AppUserModelIdParts p = hkbh::SplitAppUserModelId(id);
  FuzzCheck(p.has_bang == (id.find(L'!') != std::wstring::npos));
  FuzzCheck(p.app_id.find(L'!') == std::wstring::npos);
  FuzzCheck((p.has_bang ? p.family + L"!" + p.app_id : p.family) == id);
  FuzzCheck(p.office == (p.has_bang && hkbh::FoldLower(id).find(L"microsoft.office.desktop_8wekyb3d8bbwe") !=
                                           std::wstring::npos));
}

void CheckPaths(const std::wstring& a, const std::wstring& b) {
  const auto fits = [](const std::optional<std::wstring>& s, const std::wstring& whole) {
    FuzzCheck(s ? (*s == whole && s->size() < hkbh::kPathUnits) : whole.size() >= hkbh::kPathUnits);
  };
  fits(hkbh::JoinPath(a, b), a + L"\\" + b);
  fits(hkbh::AppendPath(a, b), a + b);
  const std::wstring local = !a.empty() && a.back() == L'\\' ? a.substr(0, a.size() - 1) : a;
  fits(hkbh::CatalogueFolder(a, b), local + L"\\ZEV\\HkbHelper\\" + b);
  const size_t slash = a.rfind(L'\\');
  const std::optional<std::wstring> preset = hkbh::PresetPath(a);
  if (slash == std::wstring::npos)
    FuzzCheck(!preset);
  else
    fits(preset, a.substr(0, slash) + L"\\PresetAppNameList.xml");
  const std::wstring mutex = hkbh::InstanceMutexName(&b);
  FuzzCheck(mutex.size() < hkbh::kPathUnits && (L"HkbHelper_" + b).compare(0, mutex.size(), mutex) == 0);

  const std::wstring base = hkbh::ExecutableBaseName(a);
  FuzzCheck(base.find_first_of(L"\\/.") == std::wstring::npos && a.find(base) != std::wstring::npos);
  const std::wstring shortcut = hkbh::ShortcutDisplayName(b);
  FuzzCheck(shortcut == (b.size() > 4 ? b.substr(0, b.size() - 4) : L""));
  FuzzCheck(hkbh::DependencyMatches(a, b) ==
            (hkbh::FoldLower(a).find(hkbh::FoldLower(b)) != std::wstring::npos));
}

// Every name stands in quotes without a quotation mark of its own, so no name
// can end its phrase early.
void CheckKeyword(const std::wstring& name, const hkbh::NameList& exclude) {
  const std::wstring k = hkbh::BuildSearchKeyword(name, exclude);
  const auto quoted = [](std::wstring s) {
    std::erase(s, L'"');
    return L"\"" + s + L"\"";
  };
  std::wstring want = quoted(name);
  for (size_t i = 0; i < exclude.size(); ++i)
    want += (i == 0 ? L" NOT(" : L" OR ") + quoted(exclude[i]) + (i + 1 == exclude.size() ? L")" : L"");
  FuzzCheck(k == want);
}

void CheckGuid(const std::string& text) {
  if (const std::optional<hkbh::Guid> g = hkbh::ParseGuid(text)) {
    const std::string sig = hkbh::GuidSignature(*g);
    FuzzCheck(hkbh::ParseGuid(sig) == g);
    std::string folded = text.size() == 38 ? text : "{" + text + "}";
    for (char& c : folded) c = (c >= 'A' && c <= 'F') ? static_cast<char>(c + 32) : c;
    FuzzCheck(sig == folded);
  }
  const hkbh::Guid iid = hkbh::ParameterizedIid(text);
  FuzzCheck((iid.data3 >> 12) == 5 && (iid.data4[0] & 0xC0) == 0x80);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hkbtest::FuzzInput in(data, size);
  const std::wstring a = in.Text<std::wstring>();
  const std::wstring b = in.Text<std::wstring>();
  CheckSplit(a);
  CheckPaths(a, b);
  hkbh::NameList exclude;
  for (uint32_t n = in.Below(4); n > 0; --n) exclude.push_back(in.Text<std::wstring>());
  CheckKeyword(b, exclude);
  std::string narrow;
  for (wchar_t c : a) narrow.push_back(static_cast<char>(c));
  CheckGuid(narrow);
  return 0;
}
