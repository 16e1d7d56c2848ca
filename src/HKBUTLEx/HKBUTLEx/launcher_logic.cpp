#include "launcher_logic.h"

#include <regex>
#include <sstream>

namespace hkbutlex {

namespace {

bool IsWhiteSpace(wchar_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

void TrimTrailingWhiteSpace(std::wstring& s) {
  while (!s.empty() && IsWhiteSpace(s.back())) s.pop_back();
}

// Removes the last character; a surrogate pair is one character.
void RemoveLastCharacter(std::wstring& s) {
  if (s.empty()) return;
  const bool lowSurrogate = s.back() >= 0xDC00 && s.back() <= 0xDFFF;
  s.pop_back();
  if (lowSurrogate && !s.empty() && s.back() >= 0xD800 && s.back() <= 0xDBFF) s.pop_back();
}

}  // namespace

Command ParseCommandLine(const std::vector<std::wstring>& elements) {
  Command c;
  if (elements.size() < 2) return c;  // Action::Prompt
  const std::wstring& sw = elements[1];
  if (sw == L"/POWER") {
    c.action = Action::Power;
  } else if (sw == L"/HUB") {
    c.action = Action::Hub;
  } else if (sw == L"/OTHERS_SOL") {
    c.action = Action::OthersSolo;
  } else if (sw == L"/OTHERS") {
    c.action = Action::Others;
  } else if (sw == L"/LAUNCH") {
    c.action = Action::Launch;
    const size_t n = elements.size();
    if (n >= 3 && n <= 5) {
      c.appId = elements[2];
      if (n >= 4) c.buttonKey = elements[3];
      if (n == 5) c.arguments = elements[4];
    }
  } else {
    c.action = Action::Unknown;
  }
  return c;
}

bool ChecksTargetInstalled(Action action) {
  switch (action) {
    case Action::Prompt:
    case Action::Power:
    case Action::Hub:
    case Action::OthersSolo:
    case Action::Others: return true;
    case Action::Launch:
    case Action::Unknown: return false;
  }
  return false;
}

std::wstring ChooseTargetAppId(const std::wstring& explicitAppId, const std::wstring& productName) {
  if (!explicitAppId.empty()) return explicitAppId;
  if (productName.find(L"144Z") != std::wstring::npos) return k144ZTargetAppId;
  return kDefaultTargetAppId;
}

std::wstring FamilyName(const std::wstring& appUserModelId) {
  return appUserModelId.substr(0, appUserModelId.find(L'!'));
}

std::optional<int> ProductNumber(const std::wstring& productName) {
  static const std::wregex kThreeDigits(L"\\d{3}", std::regex_constants::ECMAScript);
  std::wsmatch match;
  if (!std::regex_search(productName, match, kThreeDigits)) return std::nullopt;
  std::wistringstream in(match.str(0));
  int number = 0;
  in >> number;  // a failed extraction leaves 0
  return number;
}

bool IsCompanionProduct(const std::wstring& productName, const std::wstring& settingsAppId) {
  const std::optional<int> number = ProductNumber(productName);
  const bool large = number && *number > 181;
  const bool talvo = settingsAppId.find(L"TALVO2.0") != std::wstring::npos;
  return large && !talvo;
}

std::wstring FitNameToBox(const std::wstring& name, int boxWidth, const std::wstring& openBracket,
                          const std::wstring& ellipsis, const std::wstring& closeBracket,
                          const std::function<int(const std::wstring&)>& width) {
  const int available = boxWidth - width(openBracket + ellipsis + closeBracket) - 6;
  if (width(name) <= available) return name;
  std::wstring s = name;
  do {
    TrimTrailingWhiteSpace(s);
    if (s.empty()) break;
    RemoveLastCharacter(s);
  } while (width(s) > available);
  TrimTrailingWhiteSpace(s);
  return s + ellipsis;
}

std::wstring ComposeFailureText(const std::wstring& name, const std::wstring& openBracket,
                                const std::wstring& closeBracket, const std::wstring& failedToStart,
                                const std::wstring& mayNotBeInstalled) {
  const std::wstring bracketed = openBracket + name + closeBracket;
  return bracketed + failedToStart + L"\r\n" + bracketed + mayNotBeInstalled;
}

}  // namespace hkbutlex
