// The launcher's plain decisions: command-line grammar and dispatch, target
// choice, family name, the Solo page's product rule, name fitting and the
// message text.
#include "launcher_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using hkbutlex::Action;
using hkbutlex::Command;

std::string Name(Action a) {
  switch (a) {
    case Action::Prompt: return "Prompt";
    case Action::Power: return "Power";
    case Action::Hub: return "Hub";
    case Action::OthersSolo: return "OthersSolo";
    case Action::Others: return "Others";
    case Action::Launch: return "Launch";
    case Action::Unknown: return "Unknown";
  }
  return "?";
}

struct CommandCase {
  std::vector<std::wstring> elements;
  Action action;
  std::wstring appId, buttonKey, arguments;
};

CommandCase C(std::vector<std::wstring> elements, Action action, std::wstring appId = {},
              std::wstring buttonKey = {}, std::wstring arguments = {}) {
  return {std::move(elements), action, std::move(appId), std::move(buttonKey), std::move(arguments)};
}

const CommandCase kCommandCases[] = {
    C({}, Action::Prompt),  // the split failed
    C({L"HKBUTLEx.exe"}, Action::Prompt),
    C({L"HKBUTLEx.exe", L"/POWER"}, Action::Power),
    C({L"HKBUTLEx.exe", L"/HUB"}, Action::Hub),
    C({L"HKBUTLEx.exe", L"/OTHERS_SOL"}, Action::OthersSolo),
    C({L"HKBUTLEx.exe", L"/OTHERS"}, Action::Others),
    C({L"HKBUTLEx.exe", L"/LAUNCH"}, Action::Launch),
    // Further elements after a fixed switch are ignored.
    C({L"HKBUTLEx.exe", L"/POWER", L"/HUB", L"x"}, Action::Power),
    // Exact, case-sensitive, whole-element comparison.
    C({L"HKBUTLEx.exe", L"/power"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L"/POWER "}, Action::Unknown),
    C({L"HKBUTLEx.exe", L" /POWER"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L"/POWERX"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L"/OTHERS_SO"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L"/Launch", L"App!App"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L"POWER"}, Action::Unknown),
    C({L"HKBUTLEx.exe", L""}, Action::Unknown),
    // "/LAUNCH" takes its elements only when there are 3 to 5 in all.
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"A!App"}, Action::Launch, L"A!App"),
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"A!App", L"Btn1"}, Action::Launch, L"A!App", L"Btn1"),
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"A!App", L"Btn1", L"-x y"}, Action::Launch, L"A!App", L"Btn1", L"-x y"),
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"A!App", L"Btn1", L"-x", L"y"}, Action::Launch),
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"A", L"B", L"C", L"D", L"E"}, Action::Launch),
    C({L"HKBUTLEx.exe", L"/LAUNCH", L"", L"", L""}, Action::Launch),
};

TEST(CommandLine, SwitchesAndLaunchElements) {
  for (const CommandCase& c : kCommandCases) {
    std::wstring line;
    for (const std::wstring& e : c.elements) line += L"[" + e + L"]";
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    const Command got = hkbutlex::ParseCommandLine(c.elements);
    EXPECT_EQ(Name(got.action), Name(c.action));
    EXPECT_EQ(got.appId, c.appId);
    EXPECT_EQ(got.buttonKey, c.buttonKey);
    EXPECT_EQ(got.arguments, c.arguments);
  }
}

TEST(CommandLine, OnlyTheFixedPagesAndThePromptCheckTheTarget) {
  EXPECT_TRUE(hkbutlex::ChecksTargetInstalled(Action::Prompt));
  EXPECT_TRUE(hkbutlex::ChecksTargetInstalled(Action::Power));
  EXPECT_TRUE(hkbutlex::ChecksTargetInstalled(Action::Hub));
  EXPECT_TRUE(hkbutlex::ChecksTargetInstalled(Action::OthersSolo));
  EXPECT_TRUE(hkbutlex::ChecksTargetInstalled(Action::Others));
  EXPECT_FALSE(hkbutlex::ChecksTargetInstalled(Action::Launch));
  EXPECT_FALSE(hkbutlex::ChecksTargetInstalled(Action::Unknown));
}

TEST(Target, ExplicitIdThenThe144ZRuleThenTheDefault) {
  const std::wstring def = hkbutlex::kDefaultTargetAppId;
  const std::wstring zevpc = hkbutlex::k144ZTargetAppId;
  EXPECT_EQ(def, L"4F2A9E61.9C27D4B1E086_k7q3w9t2x5v8p!App");
  EXPECT_EQ(zevpc, L"4F2A9E61.ZEVPC_k7q3w9t2x5v8p!App");
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"Maker.Settings_abc!App", L"ZEV 144Z"), L"Maker.Settings_abc!App");
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L"ZEV 144Z"), zevpc);
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L"144Z"), zevpc);
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L"VK-144ZE/B"), zevpc);
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L"144z"), def);
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L"14 4Z"), def);
  EXPECT_EQ(hkbutlex::ChooseTargetAppId(L"", L""), def);
}

TEST(Target, FamilyNameEndsBeforeTheFirstBang) {
  EXPECT_EQ(hkbutlex::FamilyName(L"4F2A9E61.ZEVPC_k7q3w9t2x5v8p!App"), L"4F2A9E61.ZEVPC_k7q3w9t2x5v8p");
  EXPECT_EQ(hkbutlex::FamilyName(L"Family_x!App!More"), L"Family_x");
  EXPECT_EQ(hkbutlex::FamilyName(L"NoBang_x"), L"NoBang_x");
  EXPECT_EQ(hkbutlex::FamilyName(L"!App"), L"");
  EXPECT_EQ(hkbutlex::FamilyName(L""), L"");
}

struct ProductCase {
  const wchar_t* productName;
  const wchar_t* settingsAppId;
  int number;  // -1: no three adjacent digits
  bool companion;
};

const ProductCase kProductCases[] = {
    {L"182", L"", 182, true},
    {L"181", L"", 181, false},
    {L"VK182Z", L"", 182, true},
    {L"1A23B456", L"", 456, true},  // 1, then 23, then 456
    {L"1823", L"", 182, true},      // of four digits the first three count
    {L"1819", L"", 181, false},
    {L"144Z", L"", 144, false},
    {L"X099", L"", 99, false},
    {L"AB12CD34", L"", -1, false},
    {L"", L"", -1, false},
    {L"999", L"", 999, true},
    {L"182", L"Maker.TALVO2.0_x!App", 182, false},
    {L"182", L"Maker.talvo2.0_x!App", 182, true},  // the marker is case-sensitive
    {L"182", L"Maker.TALVO2_x!App", 182, true},
    {L"181", L"Maker.TALVO2.0_x!App", 181, false},
};

TEST(SoloPage, ProductNumberAndTheSettingsAppMarker) {
  for (const ProductCase& c : kProductCases) {
    const std::wstring p = c.productName;
    SCOPED_TRACE(std::string(p.begin(), p.end()));
    const std::optional<int> n = hkbutlex::ProductNumber(c.productName);
    if (c.number < 0) {
      EXPECT_FALSE(n.has_value());
    } else {
      ASSERT_TRUE(n.has_value());
      EXPECT_EQ(*n, c.number);
    }
    EXPECT_EQ(hkbutlex::IsCompanionProduct(c.productName, c.settingsAppId), c.companion);
  }
}

// Every code unit 10 pixels wide, except where a test says otherwise.
int TenEach(const std::wstring& s) { return static_cast<int>(s.size()) * 10; }

std::wstring Fit(const std::wstring& name, int boxWidth) {
  return hkbutlex::FitNameToBox(name, boxWidth, L"「", L"...", L"」", TenEach);
}

TEST(FitNameToBox, CutsAtTheEndWithoutBlankBeforeTheMark) {
  // Box 200: brackets and mark take 50, 6 more are kept free: 144 remain.
  EXPECT_EQ(Fit(L"", 200), L"");
  EXPECT_EQ(Fit(L"Short name", 200), L"Short name");
  EXPECT_EQ(Fit(L"ABCDEFGHIJKLMN", 200), L"ABCDEFGHIJKLMN");  // 140 fits
  EXPECT_EQ(Fit(L"ABCDEFGHIJKLMNO", 200), L"ABCDEFGHIJKLMN...");
  EXPECT_EQ(Fit(L"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 200), L"ABCDEFGHIJKLMN...");
  // Blanks before the cut go, and do not count as the character removed.
  EXPECT_EQ(Fit(L"ABCDEFGHIJKLM  XYZ", 200), L"ABCDEFGHIJKL...");
  EXPECT_EQ(Fit(L"ABCDEFGHIJKLM Q", 200), L"ABCDEFGHIJKLM...");
  EXPECT_EQ(Fit(L"ABCDEFGHIJKL\x3000\x3000WXYZ", 200), L"ABCDEFGHIJKL...");
  // Blanks only, too wide: the mark alone.
  EXPECT_EQ(Fit(std::wstring(20, L' '), 200), L"...");
  // A box too small for anything.
  EXPECT_EQ(Fit(L"abc", 40), L"...");
  // A character outside the basic plane is removed whole.
  EXPECT_EQ(Fit(std::wstring(13, L'A') + L"\xD83D\xDE00", 200), std::wstring(13, L'A') + L"...");
}

TEST(FitNameToBox, MeasuresWithTheGivenFunction) {
  // Wide characters count more: 20 pixels each for the ideographs.
  const auto width = [](const std::wstring& s) {
    int w = 0;
    for (wchar_t c : s) w += c >= 0x3000 ? 20 : 10;
    return w;
  };
  std::vector<std::wstring> measured;
  const auto recording = [&](const std::wstring& s) {
    measured.push_back(s);
    return width(s);
  };
  // Brackets 2 x 20 plus the mark 30: available 200 - 70 - 6 = 124.
  const std::wstring name = L"設定アプリケーション";  // 10 ideographs, 200
  EXPECT_EQ(hkbutlex::FitNameToBox(name, 200, L"「", L"...", L"」", recording), L"設定アプリケ...");
  ASSERT_GE(measured.size(), 2u);
  EXPECT_EQ(measured[0], L"「...」");
  EXPECT_EQ(measured[1], name);
}

TEST(FailureText, TwoLinesWithTheBracketedName) {
  const std::wstring failed = L"を起動できませんでした。";
  const std::wstring missing = L"はインストールされていない可能性があります。";
  EXPECT_EQ(hkbutlex::ComposeFailureText(L"電卓", L"「", L"」", failed, missing),
            L"「電卓」を起動できませんでした。\r\n「電卓」はインストールされていない可能性があります。");
  EXPECT_EQ(hkbutlex::ComposeFailureText(L"", L"「", L"」", failed, missing),
            L"「」を起動できませんでした。\r\n「」はインストールされていない可能性があります。");
}

}  // namespace
