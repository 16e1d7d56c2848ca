// The "+/-" button prompt of a start without switch: when it shows, what its
// buttons store and open, the single prompt across processes, and when it
// takes the foreground.
#include <gtest/gtest.h>

#include <aclapi.h>

#include <optional>
#include <string>
#include <vector>

#include "launcher.h"

namespace {

using namespace launchertest;
using hkbtest::Activated;
using hkbtest::Activation;
using hkbtest::RegData;

constexpr int kCheckBox = 1000;
constexpr int kNo = 1002;

std::optional<RegData> StoredSetting() {
  return hkbtest::ReadRegValue(HKEY_CURRENT_USER, kPromptKey, kPromptValue);
}

std::string Describe(const std::optional<RegData>& d) {
  if (!d) return "absent";
  std::string s = "type " + std::to_string(d->type) + ":";
  for (BYTE b : d->bytes) s += " " + std::to_string(b);
  return s;
}

// Presses a button the way a click does.
void Click(HWND dialog, int id) {
  const HWND button = ::GetDlgItem(dialog, id);
  ASSERT_NE(button, nullptr) << "no control " << id;
  DWORD_PTR result = 0;
  ASSERT_NE(::SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result), 0);
}

void CloseBox(HWND dialog) { ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

bool IsForeground(HWND wnd) { return ::GetForegroundWindow() == wnd; }

LONG ExStyle(HWND wnd) { return ::GetWindowLongW(wnd, GWL_EXSTYLE); }

class Prompt : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(activation.ok()) << "could not register the activation manager stand-in";
    ASSERT_TRUE(machine.ok());
    ASSERT_TRUE(LauncherWindows(kPromptTitle).empty()) << "a prompt is left over";
  }
  hkbtest::ActivationManagerStandin activation;
  MachineScope machine;
};

struct SettingCase {
  const char* name;
  std::optional<RegData> stored;
  bool shown;
};

const SettingCase kSettingCases[] = {
    {"absent", std::nullopt, true},
    {"DWORD 0", hkbtest::RegDword(0), false},
    {"DWORD 1", hkbtest::RegDword(1), true},
    {"DWORD 7", hkbtest::RegDword(7), true},
    {"empty string (2 zero bytes)", hkbtest::RegSz(L""), false},
    {"string \"0\" (4 bytes, not zero)", hkbtest::RegSz(L"0"), true},
    {"string of more than 4 bytes", hkbtest::RegSz(L"00"), true},
    {"5 zero bytes", hkbtest::RegBinary("\0\0\0\0\0", 5), true},
    {"binary 4 zero bytes", hkbtest::RegBinary("\0\0\0\0", 4), false},
    {"binary 1 zero byte", hkbtest::RegBinary("\0", 1), false},
};

TEST_F(Prompt, ShowSettingDecidesAndTheCloseBoxStoresNothing) {
  for (const SettingCase& c : kSettingCases) {
    SCOPED_TRACE(c.name);
    hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, c.stored);
    ASSERT_TRUE(setting.ok());
    const std::optional<RegData> before = StoredSetting();
    Launcher l(L"");
    ASSERT_TRUE(l.started());
    if (c.shown) {
      const HWND prompt = WaitForLauncherWindow(kPromptTitle);
      ASSERT_NE(prompt, nullptr) << "no prompt";
      // Ticking the box and closing stores nothing.
      Click(prompt, kCheckBox);
      CloseBox(prompt);
    }
    ASSERT_TRUE(l.WaitForExit()) << (c.shown ? "the prompt did not close" : "a prompt was shown");
    EXPECT_EQ(Describe(StoredSetting()), Describe(before));
  }
  EXPECT_TRUE(activation.Activations().empty());
}

TEST_F(Prompt, ShowsItsTextsAndStartsCleared) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  Launcher l(L"");
  const HWND prompt = WaitForLauncherWindow(kPromptTitle);
  ASSERT_NE(prompt, nullptr);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return IsForeground(prompt); }, 30s))
      << "the prompt did not come forward";
  hkbtest::PumpFor(300ms);  // let it paint before the picture is taken
  EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbutlex_prompt.bmp"));

  EXPECT_EQ(ControlText(prompt, 1001), L"    現在の設定： 音量のUP/DOWN");
  EXPECT_EQ(ControlText(prompt, kCheckBox), L"次回からこの画面を表示しない");
  EXPECT_EQ(ControlText(prompt, IDOK), L"はい");
  EXPECT_EQ(ControlText(prompt, kNo), L"いいえ");
  std::vector<std::wstring> unnamed;
  for (HWND child = ::GetWindow(prompt, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    if (static_cast<WORD>(::GetDlgCtrlID(child)) == 0xFFFF) unnamed.push_back(WindowText(child));
  EXPECT_EQ(
      unnamed,
      (std::vector<std::wstring>{
          L"", L"＋/－ボタンを押したときの動作は\n変更することができます。",
          L"ストアアプリの「TALVOかんたん設定」を起動して、+/-ボタンを押した時の動作を変更しますか？"}));
  EXPECT_EQ(::SendMessageW(::GetDlgItem(prompt, kCheckBox), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_TRUE(ExStyle(prompt) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(ExStyle(prompt) & WS_EX_NOACTIVATE) << "mode is not 2: the prompt is a normal window";
  CloseBox(prompt);
  ASSERT_TRUE(l.WaitForExit());
}

struct AnswerCase {
  const char* name;
  bool tick;
  int button;  // IDOK, kNo, or 0 for the close box
  std::optional<DWORD> stored;
  bool opensOthers;
};

const AnswerCase kAnswerCases[] = {
    {"yes", false, IDOK, 1, true},
    {"no", false, kNo, 1, false},
    {"tick, yes", true, IDOK, 0, true},
    {"tick, no", true, kNo, 0, false},
    {"tick, close box", true, 0, std::nullopt, false},
};

TEST_F(Prompt, AnswersStoreTheChoiceAndYesOpensTheOthersPage) {
  for (const AnswerCase& c : kAnswerCases) {
    SCOPED_TRACE(c.name);
    hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
    const size_t before = activation.Activations().size();
    Launcher l(L"");
    const HWND prompt = WaitForLauncherWindow(kPromptTitle);
    ASSERT_NE(prompt, nullptr);
    if (c.tick) Click(prompt, kCheckBox);
    if (c.button)
      Click(prompt, c.button);
    else
      CloseBox(prompt);
    ASSERT_TRUE(l.WaitForExit());
    EXPECT_EQ(Describe(StoredSetting()),
              Describe(c.stored ? std::optional<RegData>(hkbtest::RegDword(*c.stored)) : std::nullopt));
    const std::vector<Activation> all = activation.Activations();
    const std::vector<Activation> added(all.begin() + static_cast<long>(before), all.end());
    if (c.opensOthers)
      EXPECT_EQ(added, std::vector<Activation>{Activated(kDefaultTarget, kOthers)});
    else
      EXPECT_TRUE(added.empty());
  }

  // "Do not show again" holds at the next start: nothing happens at all.
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue,
                                  std::optional<RegData>(hkbtest::RegDword(0)));
  const size_t before = activation.Activations().size();
  EXPECT_TRUE(RunToEnd(L""));
  EXPECT_EQ(activation.Activations().size(), before);
}

TEST_F(Prompt, SecondStartRaisesTheFirstAndShowsNoSecond) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  DspModeStandin dspmode;  // mode 0
  ASSERT_TRUE(dspmode.ok());
  ForegroundHolder holder;
  Launcher first(L"");
  const HWND prompt = WaitForLauncherWindow(kPromptTitle);
  ASSERT_NE(prompt, nullptr);
  // The dialog's start and its first tick asked for the display mode; that
  // tick brought the prompt forward and ended the timer.
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return dspmode.Count(L"DSPMODE_GetDisplayMode") >= 2; }, 30s));
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return IsForeground(prompt); }, 30s))
      << "the first tick did not bring it forward";

  // The single-instance mutex exists, open to everyone (a null DACL).
  {
    hkb::UniqueHandle mutex(::OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, L"G_MUTEX_HKBUTLEX"));
    ASSERT_TRUE(mutex) << "no mutex while the prompt is shown";
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_EQ(::GetSecurityInfo(mutex.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                nullptr, nullptr, &sd),
              static_cast<DWORD>(ERROR_SUCCESS));
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);
    ::LocalFree(sd);
  }

  ASSERT_TRUE(holder.Take());
  hkbtest::PumpFor(300ms);  // three periods: no tick of the first prompt takes it back
  ASSERT_TRUE(IsForeground(holder.hwnd()));
  EXPECT_EQ(dspmode.Count(L"DSPMODE_GetDisplayMode"), 2u) << "the timer still runs";
  Launcher second(L"");
  ASSERT_TRUE(second.WaitForExit()) << "the second start did not end";
  EXPECT_TRUE(first.Running());
  EXPECT_EQ(LauncherWindows(kPromptTitle).size(), 1u);
  EXPECT_TRUE(hkbtest::PumpUntil([&] { return IsForeground(prompt); }, 30s))
      << "the first prompt was not raised";

  Click(prompt, kNo);
  ASSERT_TRUE(first.WaitForExit());
  EXPECT_TRUE(activation.Activations().empty());
  EXPECT_EQ(::OpenMutexW(SYNCHRONIZE, FALSE, L"G_MUTEX_HKBUTLEX"), nullptr)
      << "the mutex outlived the prompt";
}

TEST_F(Prompt, AnExistingMutexWithoutPromptMeansNothingHappens) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  DspModeStandin dspmode;
  ASSERT_TRUE(dspmode.ok());
  hkb::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, L"G_MUTEX_HKBUTLEX"));
  ASSERT_TRUE(mutex);
  EXPECT_TRUE(RunToEnd(L""));
  EXPECT_TRUE(activation.Activations().empty());
  // No prompt window to raise: the display mode is not even asked.
  EXPECT_TRUE(dspmode.Calls().empty()) << hkbtest::Utf8(dspmode.Calls().front());
}

TEST_F(Prompt, DisplayMode2KeepsItBackUntilTheModeChanges) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  DspModeStandin dspmode("mode=2\n");
  ASSERT_TRUE(dspmode.ok());
  ForegroundHolder holder;
  ASSERT_TRUE(IsForeground(holder.hwnd()));
  Launcher first(L"");
  const HWND prompt = WaitForLauncherWindow(kPromptTitle);
  ASSERT_NE(prompt, nullptr);
  // The timer keeps asking (every 100 ms) and the prompt stays back.
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return dspmode.Count(L"DSPMODE_GetDisplayMode") >= 8; }, 30s));
  EXPECT_TRUE(IsForeground(holder.hwnd())) << "the prompt took the foreground in mode 2";
  EXPECT_TRUE(ExStyle(prompt) & WS_EX_NOACTIVATE);

  // A second start in mode 2 does not raise it either.
  Launcher second(L"");
  ASSERT_TRUE(second.WaitForExit());
  EXPECT_EQ(LauncherWindows(kPromptTitle).size(), 1u);
  EXPECT_TRUE(IsForeground(holder.hwnd())) << "the second start raised the prompt in mode 2";
  hkbtest::SaveScreenshot(L"hkbutlex_prompt_mode2.bmp");

  // The first tick after the mode has left 2 brings it forward, once.
  ASSERT_TRUE(dspmode.SetMode(0));
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return IsForeground(prompt); }, 30s))
      << "the prompt did not come forward";
  EXPECT_FALSE(ExStyle(prompt) & WS_EX_NOACTIVATE);
  const size_t asked = dspmode.Count(L"DSPMODE_GetDisplayMode");
  hkbtest::PumpFor(700ms);  // seven periods of the timer
  EXPECT_EQ(dspmode.Count(L"DSPMODE_GetDisplayMode"), asked) << "the timer still runs";
  // Every query is a whole initialise, query, finalise sequence.
  EXPECT_EQ(dspmode.Count(L"DSPMODE_Initialize"), asked);
  EXPECT_EQ(dspmode.Count(L"DSPMODE_Finalize"), asked);

  CloseBox(prompt);
  ASSERT_TRUE(first.WaitForExit());
  EXPECT_FALSE(StoredSetting().has_value());
}

TEST_F(Prompt, FailingDisplayModeLibraryCountsAsNotMode2) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  DspModeStandin dspmode("init=5\nmode=2\n");
  ASSERT_TRUE(dspmode.ok());
  ForegroundHolder holder;
  Launcher l(L"");
  const HWND prompt = WaitForLauncherWindow(kPromptTitle);
  ASSERT_NE(prompt, nullptr);
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return IsForeground(prompt); }, 30s));
  // The dialog's start and its first tick.
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return dspmode.Calls().size() >= 2; }, 30s));
  CloseBox(prompt);
  ASSERT_TRUE(l.WaitForExit());
  // Initialisation failed: neither the query nor the finalisation follows.
  for (const std::wstring& call : dspmode.Calls()) EXPECT_EQ(call, L"DSPMODE_Initialize");
}

TEST_F(Prompt, NotShownWhenTheTargetIsNotInstalled) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kPromptKey, kPromptValue, std::optional<RegData>());
  HelperStandin helper(std::string("missing=") + hkbtest::Utf8(kDefaultFamily) + "\n");
  ASSERT_TRUE(helper.ok());
  EXPECT_TRUE(RunToEnd(L""));
  EXPECT_TRUE(activation.Activations().empty());
  EXPECT_FALSE(StoredSetting().has_value());
}

}  // namespace
