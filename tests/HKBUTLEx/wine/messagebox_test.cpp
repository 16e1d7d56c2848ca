// The launch-failure message box of "/LAUNCH": its text with the button's
// display name, the shortened name, the picture, and one box across processes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher.h"

namespace {

using namespace launchertest;

constexpr int kText = 1003;
constexpr int kPicture = 1004;
constexpr wchar_t kUserKey[] = L"Software\\ZEV\\ZEVHKB\\Setting\\";
constexpr wchar_t kDefaultKey[] = L"SOFTWARE\\ZEV\\ZEVHKB\\Default\\Setting\\";
constexpr wchar_t kMissingApp[] = L"Missing.App_q1!App";

std::wstring Expected(const std::wstring& name) {
  return L"「" + name + L"」を起動できませんでした。\r\n「" + name +
         L"」はインストールされていない可能性があります。";
}

// The name between the first pair of brackets of the box text.
std::wstring ShownName(const std::wstring& text) {
  const size_t open = text.find(L'「');
  const size_t close = text.find(L'」');
  if (open == std::wstring::npos || close == std::wstring::npos || close < open) return L"<no brackets>";
  return text.substr(open + 1, close - open - 1);
}

class FailureBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(activation.ok());
    ASSERT_TRUE(helper.ok());
    ASSERT_TRUE(LauncherWindows(L"").empty()) << "a message box is left over";
  }
  // Starts "/LAUNCH" for the missing app with a button key and waits for its box.
  HWND ShowBox(Launcher& l) {
    EXPECT_TRUE(l.started());
    return WaitForLauncherWindow(L"");
  }
  void CloseWithOk(HWND box, Launcher& l) {
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result);
    EXPECT_TRUE(l.WaitForExit()) << "the box did not close";
    EXPECT_EQ(l.ExitCode(), 0u);
  }
  hkbtest::ActivationManagerStandin activation;
  HelperStandin helper{std::string("missing=") + hkbtest::Utf8(kMissingApp) + "\n"};
};

struct TitleCase {
  const char* name;
  std::optional<std::wstring> user;     // HKCU ...\Setting\<key> "DispTitle"
  std::optional<std::wstring> machine;  // HKLM ...\Default\Setting\<key> "DispTitle"
  std::wstring shown;
};

const TitleCase kTitleCases[] = {
    {"user's name", L"電卓プラス", L"Calculator", L"電卓プラス"},
    {"empty user's name: the default", L"", L"Calculator", L"Calculator"},
    {"no user's name: the default", std::nullopt, L"Calculator", L"Calculator"},
    {"neither: empty brackets", std::nullopt, std::nullopt, L""},
    // More than the 4096 bytes the name is read into: unreadable, the default.
    {"user's name too long to read", std::wstring(3000, L'x'), L"Calculator", L"Calculator"},
};

TEST_F(FailureBox, NamesTheAppFromTheButtonsDisplayTitle) {
  for (const TitleCase& c : kTitleCases) {
    SCOPED_TRACE(c.name);
    // The button key is appended to the key path as it came.
    hkbtest::ScopedRegValue user(HKEY_CURRENT_USER, std::wstring(kUserKey) + L"Key 7", L"DispTitle", c.user);
    hkbtest::ScopedRegValue machine(HKEY_LOCAL_MACHINE, std::wstring(kDefaultKey) + L"Key 7", L"DispTitle",
                                    c.machine);
    // A value of another button does not count.
    hkbtest::ScopedRegValue other(HKEY_CURRENT_USER, std::wstring(kUserKey) + L"Key", L"DispTitle",
                                  std::optional<std::wstring>(L"Wrong"));
    ASSERT_TRUE(user.ok() && machine.ok() && other.ok());
    Launcher l(std::wstring(L"/LAUNCH ") + kMissingApp + L" \"Key 7\"");
    const HWND box = ShowBox(l);
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(ControlText(box, kText), Expected(c.shown));
    EXPECT_EQ(ControlText(box, kPicture), L"");
    EXPECT_EQ(ControlText(box, IDOK), L"OK");
    EXPECT_TRUE(::GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
    if (&c == &kTitleCases[0]) {  // the Japanese name
      hkbtest::PumpFor(300ms);    // let it paint
      EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbutlex_messagebox.bmp"));
    }
    CloseWithOk(box, l);
  }
  EXPECT_TRUE(activation.Activations().empty());
  // The installed check was asked for the whole id each time.
  for (const auto& check : helper.Checks()) EXPECT_EQ(check.second.value_or(L"<null>"), kMissingApp);
}

TEST_F(FailureBox, TooWideNamesAreShortenedAtTheEnd) {
  const std::wstring longName =
      L"とても長い名前のアプリケーションとても長い名前のアプリケーションとても長い名前のアプリケーション";
  struct Case {
    std::wstring title;
    std::wstring shown;  // empty: check the shortening only
  } cases[] = {
      {longName, L""},
      {L"Short", L"Short"},
      {std::wstring(120, L' '), L"..."},
      // The cut falls inside the blanks: none is left before the mark.
      {L"ABCDEFGHIJKLMNOPQRSTUV" + std::wstring(60, L' ') + L"W", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hkbtest::Utf8(c.title));
    hkbtest::ScopedRegValue user(HKEY_CURRENT_USER, std::wstring(kUserKey) + L"Long", L"DispTitle",
                                 std::optional<std::wstring>(c.title));
    Launcher l(std::wstring(L"/LAUNCH ") + kMissingApp + L" Long");
    const HWND box = ShowBox(l);
    ASSERT_NE(box, nullptr);
    const std::wstring text = ControlText(box, kText);
    const std::wstring shown = ShownName(text);
    if (!c.shown.empty()) {
      EXPECT_EQ(shown, c.shown);
    } else {
      ASSERT_GT(shown.size(), 3u);
      EXPECT_EQ(shown.substr(shown.size() - 3), L"...");
      const std::wstring kept = shown.substr(0, shown.size() - 3);
      EXPECT_EQ(c.title.compare(0, kept.size(), kept), 0) << "not a beginning of the name";
      EXPECT_LT(kept.size(), c.title.size());
      EXPECT_NE(kept.back(), L' ');
      if (c.title == longName) {
        EXPECT_TRUE(hkbtest::PumpUntil([&] { return ::GetForegroundWindow() == box; }, 30s));
        hkbtest::PumpFor(300ms);  // let it paint
        EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbutlex_messagebox_long.bmp"));
      }
    }
    EXPECT_EQ(text, Expected(shown));
    CloseWithOk(box, l);
  }
}

TEST_F(FailureBox, PaintsTheWarningPictureAsASquareAtThePlaceholder) {
  Launcher l(std::wstring(L"/LAUNCH ") + kMissingApp);
  const HWND box = ShowBox(l);
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return ::GetForegroundWindow() == box; }, 30s));
  hkbtest::PumpFor(300ms);
  RECT r = {};
  ::GetWindowRect(::GetDlgItem(box, kPicture), &r);
  const int side = r.right - r.left;
  ASSERT_GT(side, 20);
  const hkb::WindowDc screen(nullptr);
  auto at = [&](double fx, double fy) {
    return ::GetPixel(screen.get(), r.left + static_cast<int>(side * fx),
                      r.top + static_cast<int>(side * fy));
  };
  auto orange = [](COLORREF c) {
    return GetRValue(c) > 200 && GetGValue(c) > 90 && GetGValue(c) < 190 && GetBValue(c) < 90;
  };
  auto white = [](COLORREF c) { return GetRValue(c) > 230 && GetGValue(c) > 230 && GetBValue(c) > 230; };
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  // The triangle's body left and right of the mark, the mark, the corners
  // outside the triangle, and the lower part of the square below the
  // placeholder's own height.
  EXPECT_TRUE(orange(at(0.30, 0.78))) << std::hex << at(0.30, 0.78);
  EXPECT_TRUE(orange(at(0.70, 0.78))) << std::hex << at(0.70, 0.78);
  EXPECT_TRUE(white(at(0.50, 0.50))) << std::hex << at(0.50, 0.50);
  EXPECT_EQ(at(0.03, 0.05), face);
  EXPECT_EQ(at(0.97, 0.05), face);
  EXPECT_TRUE(orange(at(0.50, 0.88))) << std::hex << at(0.50, 0.88);
  CloseWithOk(box, l);
}

TEST_F(FailureBox, RaiseMessageBringsTheBoxForward) {
  Launcher l(std::wstring(L"/LAUNCH ") + kMissingApp);
  const HWND box = ShowBox(l);
  ASSERT_NE(box, nullptr);
  ForegroundHolder holder;
  ASSERT_TRUE(IsWindow(holder.hwnd()) && holder.Take());
  ASSERT_TRUE(::PostMessageW(box, 32868, 0, 0));
  EXPECT_TRUE(hkbtest::PumpUntil([&] { return ::GetForegroundWindow() == box; }, 30s));
  CloseWithOk(box, l);
}

TEST_F(FailureBox, TwoFailuresFromTwoProcessesLeaveOneBox) {
  hkbtest::ScopedRegValue first_title(HKEY_CURRENT_USER, std::wstring(kUserKey) + L"A", L"DispTitle",
                                      std::optional<std::wstring>(L"First"));
  hkbtest::ScopedRegValue second_title(HKEY_CURRENT_USER, std::wstring(kUserKey) + L"B", L"DispTitle",
                                       std::optional<std::wstring>(L"Second"));
  Launcher first(std::wstring(L"/LAUNCH ") + kMissingApp + L" A");
  ASSERT_NE(ShowBox(first), nullptr);
  Launcher second(std::wstring(L"/LAUNCH ") + kMissingApp + L" B");
  ASSERT_TRUE(second.started());
  // Either the first box came forward and the second process ended, or the
  // first was asked to close and the second shows its own.
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return !first.Running() || !second.Running(); }, 60s));
  const bool raised = !second.Running();
  std::printf("hand-over: %s\n", raised ? "the first box was raised" : "the first box was closed");
  Launcher& survivor = raised ? first : second;
  HWND box = WaitForLauncherWindow(L"");
  ASSERT_NE(box, nullptr);
  hkbtest::PumpFor(300ms);
  std::vector<HWND> boxes;
  for (HWND w : LauncherWindows(L""))
    if (::IsWindowVisible(w)) boxes.push_back(w);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(ShownName(ControlText(boxes[0], kText)), raised ? L"First" : L"Second");
  EXPECT_TRUE(survivor.Running());
  CloseWithOk(boxes[0], survivor);
}

}  // namespace
