// The launcher's command-line dispatch, family name, product number and name
// fitting against simple references: the dispatch table, the text before the
// first "!", the first three digits in a row, and the fitting rule's bounds
// under an additive width.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hkbtest/fuzz_input.h"
#include "launcher_logic.h"

namespace {

using hkbtest::FuzzCheck;
using hkbutlex::Action;

bool IsBlank(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

void CheckDispatch(const std::vector<std::wstring>& elements) {
  const hkbutlex::Command c = hkbutlex::ParseCommandLine(elements);
  static const std::pair<const wchar_t*, Action> kTable[] = {{L"/POWER", Action::Power},
                                                             {L"/HUB", Action::Hub},
                                                             {L"/OTHERS_SOL", Action::OthersSolo},
                                                             {L"/OTHERS", Action::Others},
                                                             {L"/LAUNCH", Action::Launch}};
  Action want = elements.size() < 2 ? Action::Prompt : Action::Unknown;
  for (const auto& [name, action] : kTable)
    if (elements.size() >= 2 && elements[1] == name) want = action;
  FuzzCheck(c.action == want);
  const bool takes = want == Action::Launch && elements.size() >= 3 && elements.size() <= 5;
  FuzzCheck(c.appId == (takes ? elements[2] : L""));
  FuzzCheck(c.buttonKey == (takes && elements.size() >= 4 ? elements[3] : L""));
  FuzzCheck(c.arguments == (takes && elements.size() == 5 ? elements[4] : L""));
  FuzzCheck(hkbutlex::ChecksTargetInstalled(c.action) == (want != Action::Launch && want != Action::Unknown));
}

void CheckFamilyAndProduct(const std::wstring& id, const std::wstring& product) {
  const std::wstring family = hkbutlex::FamilyName(id);
  FuzzCheck(id.compare(0, family.size(), family) == 0);
  FuzzCheck(family.find(L'!') == std::wstring::npos);
  FuzzCheck(family.size() == id.size() || id[family.size()] == L'!');

  std::optional<int> want;
  for (size_t i = 0; i + 3 <= product.size() && !want; ++i) {
    const auto digit = [&](size_t k) { return product[k] >= L'0' && product[k] <= L'9'; };
    if (digit(i) && digit(i + 1) && digit(i + 2))
      want = (product[i] - L'0') * 100 + (product[i + 1] - L'0') * 10 + (product[i + 2] - L'0');
  }
  FuzzCheck(hkbutlex::ProductNumber(product) == want);
  const bool talvo = id.find(L"TALVO2.0") != std::wstring::npos;
  FuzzCheck(hkbutlex::IsCompanionProduct(product, id) == (want && *want > 181 && !talvo));
}

// Widths: each unit weighs what the input says (0 to 15 pixels).
void CheckFit(const std::wstring& name, int box, const uint8_t weights[16]) {
  int calls = 0;
  const auto width = [&](const std::wstring& s) {
    ++calls;
    int w = 0;
    for (wchar_t c : s) w += weights[c & 15] & 15;
    return w;
  };
  const std::wstring ellipsis = L"...";
  const std::wstring fitted = hkbutlex::FitNameToBox(name, box, L"\x300C", ellipsis, L"\x300D", width);
  FuzzCheck(calls <= static_cast<int>(name.size()) + 3);  // one measure per removed character
  const int available = box - width(L"\x300C...\x300D") - 6;
  if (width(name) <= available) {
    FuzzCheck(fitted == name);
    return;
  }
  FuzzCheck(fitted.size() >= ellipsis.size() && fitted.compare(fitted.size() - 3, 3, ellipsis) == 0);
  const std::wstring kept = fitted.substr(0, fitted.size() - 3);
  FuzzCheck((kept.size() < name.size() || name.empty()) && name.compare(0, kept.size(), kept) == 0);
  FuzzCheck(kept.empty() || !IsBlank(kept.back()));
  FuzzCheck(width(kept) <= available || kept.empty());
  // A surrogate pair is one character: never cut between its halves.
  FuzzCheck(kept.empty() || !(kept.back() >= 0xD800 && kept.back() <= 0xDBFF && name[kept.size()] >= 0xDC00 &&
                              name[kept.size()] <= 0xDFFF));
  // The longest such cut: the name through the following blanks, one more
  // character and its blanks was already too wide.
  size_t next = kept.size();
  while (next < name.size() && IsBlank(name[next])) ++next;
  if (next < name.size()) {
    const bool pair = name[next] >= 0xD800 && name[next] <= 0xDBFF && next + 1 < name.size() &&
                      name[next + 1] >= 0xDC00 && name[next + 1] <= 0xDFFF;
    next += pair ? 2 : 1;
    while (next < name.size() && IsBlank(name[next])) ++next;
    FuzzCheck(width(name.substr(0, next)) > available);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hkbtest::FuzzInput in(data, size);
  const uint32_t count = in.Below(8);
  // Element 1 is one of the switches, a near miss, or any text.
  static const wchar_t* const kSwitches[] = {L"/POWER",  L"/HUB",   L"/OTHERS_SOL", L"/OTHERS",
                                             L"/LAUNCH", L"/power", L"/LAUNCH ",    L"/OTHERS_SO"};
  const uint32_t pick = in.Below(16);
  std::vector<std::wstring> elements;
  for (uint32_t i = 0; i < count; ++i) elements.push_back(in.Text<std::wstring>());
  if (elements.size() >= 2 && pick < 8) elements[1] = kSwitches[pick];
  CheckDispatch(elements);

  const std::wstring id = in.Text<std::wstring>();
  const std::wstring product = in.Text<std::wstring>();
  CheckFamilyAndProduct(id, product);

  uint8_t weights[16];
  for (uint8_t& w : weights) w = in.Byte();
  const int box = static_cast<int>(in.Below(600)) - 50;
  CheckFit(in.Text<std::wstring>(), box, weights);
  return 0;
}
