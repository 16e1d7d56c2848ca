// The launcher's decisions that need no platform call: the command-line
// grammar and its dispatch, the target app and its family name, the product
// rule of the Solo page, the shortening of a name to the width of the message
// box and the message box's text. No Windows header; unit-tested natively.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hkbutlex {

// What one run does, chosen from element 1 of the command line.
enum class Action {
  Prompt,      // no switch: the "+/-" prompt flow
  Power,       // "/POWER"
  Hub,         // "/HUB"
  OthersSolo,  // "/OTHERS_SOL"
  Others,      // "/OTHERS"
  Launch,      // "/LAUNCH"
  Unknown,     // any other element 1: the settings app's home
};

struct Command {
  Action action = Action::Prompt;
  // Only for Action::Launch; empty unless the command line has 3 to 5 elements.
  std::wstring appId;
  std::wstring buttonKey;
  std::wstring arguments;
};

// `elements` as CommandLineToArgvW splits the command line (element 0 is the
// program); an empty list stands for a split that failed.
Command ParseCommandLine(const std::vector<std::wstring>& elements);

// Whether the action checks the target app's installation before it runs.
bool ChecksTargetInstalled(Action action);

inline constexpr wchar_t kDefaultTargetAppId[] = L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p!App";
inline constexpr wchar_t k144ZTargetAppId[] = L"4F2A9E61.ZEVPC_k7q3w9t2x5v8p!App";
inline constexpr wchar_t kCompanionUri[] =
    L"orbit-companion:PARAM?featureId=5D1C7A20-3E84-4B6F-A2C9-81F0E6B3D457&Page=SoloBtn";
inline constexpr wchar_t kOthersPageArguments[] = L"?section=OthersSection*NULL&=";
inline constexpr wchar_t kPowerPageArguments[] = L"?section=PowerSection&=";
inline constexpr wchar_t kSoloPageArguments[] = L"?section=OthersSection*Solo&=";

// The settings app to open: the explicit identifier when it is not empty,
// else the "144Z" identifier when the product name contains "144Z", else the
// default one.
std::wstring ChooseTargetAppId(const std::wstring& explicitAppId, const std::wstring& productName);

// An AppUserModelID up to its first "!" (all of it when it has none).
std::wstring FamilyName(const std::wstring& appUserModelId);

// The first run of three digits in the product name, read as a number.
std::optional<int> ProductNumber(const std::wstring& productName);

// The Solo page goes to the companion app on products numbered above 181,
// unless the settings app is the "TALVO2.0" one.
bool IsCompanionProduct(const std::wstring& productName, const std::wstring& settingsAppId);

// Shortens `name` until it fits the text control of the message box. `width`
// measures a text in pixels with the box's font; `boxWidth` is the width of
// the text control. A name that is too wide loses characters at its end and
// trailing white space, and gets `ellipsis` appended.
std::wstring FitNameToBox(const std::wstring& name, int boxWidth, const std::wstring& openBracket,
                          const std::wstring& ellipsis, const std::wstring& closeBracket,
                          const std::function<int(const std::wstring&)>& width);

// The message box text: the bracketed name with `failedToStart`, a line break,
// the bracketed name with `mayNotBeInstalled`.
std::wstring ComposeFailureText(const std::wstring& name, const std::wstring& openBracket,
                                const std::wstring& closeBracket, const std::wstring& failedToStart,
                                const std::wstring& mayNotBeInstalled);

}  // namespace hkbutlex
