// The companion notifications of HKBFNK.dll, driven through the shipped DLL.
#include <gtest/gtest.h>

#include <windows.h>

#include "hkbtest/harness.h"

using namespace std::chrono_literals;
using hkbtest::RecordingWindow;

namespace {

using Inform = int (*)(void);

class Notify : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib) << "LoadLibraryW failed, error " << lib.error();
    fnf3 = lib.proc<Inform>("HKBFNK_Inform_FNF3_Push");
    eco = lib.proc<Inform>("HKBFNK_Inform_ECO_Push");
    airplane = lib.proc<Inform>("HKBFNK_Inform_AirPlane_Push");
    ASSERT_TRUE(fnf3 && eco && airplane);
  }
  hkbtest::Library lib{hkbtest::DistFile(L"Program Files\\ZEVHKB\\HKBFNK.dll")};
  Inform fnf3 = nullptr;
  Inform eco = nullptr;
  Inform airplane = nullptr;
};

constexpr wchar_t kSwitcher[] = L"ZEV External Display Switcher";

// Which window exists, and what each export must then return and post.
struct WindowCase {
  const char* name;
  const wchar_t* cls;
  const wchar_t* title;
  int fnf3Result;
  int ecoResult;
  UINT expectedMessage;  // 0: nothing may arrive
};

const WindowCase kWindowCases[] = {
    {"switcher with its title", kSwitcher, kSwitcher, 1, 0, 0x813E},
    {"switcher class, other title", kSwitcher, L"Display Switcher", 0, 0, 0},
    {"switcher class, empty title", kSwitcher, L"", 0, 0, 0},
    {"ECO window, any title", L"PwrTuner", L"Power Tuner 3.1", 0, 1, 0x53D},
    {"ECO window, empty title", L"PwrTuner", L"", 0, 1, 0x53D},
    {"ECO title on another class", L"PwrTunerX", L"PwrTuner", 0, 0, 0},
};

TEST_F(Notify, FindsOnlyTheNamedWindowsAndPostsTheirMessages) {
  for (const WindowCase& c : kWindowCases) {
    SCOPED_TRACE(c.name);
    RecordingWindow wnd(c.cls, c.title);
    ASSERT_NE(wnd.hwnd(), nullptr);
    EXPECT_EQ(fnf3(), c.fnf3Result);
    EXPECT_EQ(eco(), c.ecoResult);
    hkbtest::PumpFor(50ms);
    const auto& got = wnd.received();
    if (c.expectedMessage == 0) {
      EXPECT_TRUE(got.empty()) << "first message 0x" << std::hex << got.front().msg;
    } else {
      ASSERT_EQ(got.size(), 1u);
      EXPECT_EQ(got[0].msg, c.expectedMessage);
      EXPECT_EQ(got[0].wParam, 0u);
      EXPECT_EQ(got[0].lParam, 0);
    }
  }
}

TEST_F(Notify, WithoutCompanionWindowsBothReturnZero) {
  ASSERT_EQ(::FindWindowW(kSwitcher, kSwitcher), nullptr);
  ASSERT_EQ(::FindWindowW(L"PwrTuner", nullptr), nullptr);
  EXPECT_EQ(fnf3(), 0);
  EXPECT_EQ(eco(), 0);
}

TEST_F(Notify, PostsAreNotSentSoTheCallDoesNotWaitForTheWindow) {
  // The window's thread (this one) is not pumping during the call: a sent
  // message would be handled inside the call, a posted one only afterwards.
  RecordingWindow wnd(L"PwrTuner", L"eco");
  EXPECT_EQ(eco(), 1);
  MSG m;
  ASSERT_TRUE(::PeekMessageW(&m, wnd.hwnd(), 0x53D, 0x53D, PM_NOREMOVE));
  EXPECT_EQ(m.message, 0x53Du);
}

class AirPlane : public Notify {
 protected:
  std::wstring program = hkbtest::ProgramFiles() + L"\\ZEVHKB\\RadioToggle.exe";
  std::wstring trace = hkbtest::TempFilePath(L"rtg");
  hkbtest::ScopedEnv env{L"RADIOTOGGLE_TRACE", trace};
  void TearDown() override { ::DeleteFileW(trace.c_str()); }
};

TEST_F(AirPlane, StartsTheProgramWithoutArgumentsAndDoesNotWaitForIt) {
  ASSERT_FALSE(hkbtest::FileExists(program)) << "prefix has a leftover RadioToggle.exe";
  hkbtest::ScopedFileCopy installed(hkbtest::StandinFile(L"RadioToggle.exe"), program);
  ASSERT_TRUE(installed.ok()) << "copy error " << installed.error() << " " << hkbtest::Utf8(program);

  const ULONGLONG before = ::GetTickCount64();
  EXPECT_NE(airplane(), 0);
  const ULONGLONG callMs = ::GetTickCount64() - before;

  std::string text;
  ASSERT_TRUE(hkbtest::PumpUntil([&] { return !(text = hkbtest::ReadFileBytes(trace)).empty(); }, 10s))
      << "the program did not start";
  EXPECT_NE(text.find("args=[]"), std::string::npos) << text;
  // Still running after the export returned: it has not written "ended".
  hkbtest::PumpFor(200ms);
  EXPECT_EQ(hkbtest::ReadFileBytes(trace).find("ended"), std::string::npos);
  EXPECT_LT(callMs, 5000u) << "the export waited for the program";

  HANDLE quit = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, L"HKBTest.RadioToggle.Exit");
  ASSERT_NE(quit, nullptr) << "the started program is not running";
  ::SetEvent(quit);
  ::CloseHandle(quit);
  EXPECT_TRUE(hkbtest::PumpUntil(
      [&] { return hkbtest::ReadFileBytes(trace).find("ended") != std::string::npos; }, 10s));
}

TEST_F(AirPlane, MissingProgramGivesZeroAndStartsNothing) {
  ASSERT_FALSE(hkbtest::FileExists(program));
  EXPECT_EQ(airplane(), 0);
  hkbtest::PumpFor(300ms);
  EXPECT_TRUE(hkbtest::ReadFileBytes(trace).empty());
}

TEST_F(AirPlane, ProductFolderWithoutTheProgramGivesZero) {
  // Another file in the product folder does not count.
  hkbtest::ScopedFileCopy other(hkbtest::StandinFile(L"RadioToggle.exe"),
                                hkbtest::ProgramFiles() + L"\\ZEVHKB\\RadioToggle2.exe");
  ASSERT_TRUE(other.ok()) << "copy error " << other.error();
  EXPECT_EQ(airplane(), 0);
  hkbtest::PumpFor(300ms);
  EXPECT_TRUE(hkbtest::ReadFileBytes(trace).empty());
}

}  // namespace
