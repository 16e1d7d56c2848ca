// The launch functions through the shipped library. The search runs against
// the stand-in search pane (its own process, recording the key events it
// sees and what was pasted) and the stand-in app-visibility service; the
// catalogue behind the exclusion clause comes from shortcuts in Start Menu
// trees of the test. The activation manager launch runs against its stand-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hkb/com.h"
#include "pm_support.h"
#include "search_support.h"

namespace {

using hkbhtest::HostProcess;
using hkbhtest::KeyEvent;
using hkbhtest::KeySequence;
using hkbhtest::Paste;
using hkbhtest::SearchPane;

constexpr wchar_t kSettings[] = L"Software\\ZEV\\ZEVHKB\\HkbHelper";
constexpr wchar_t kBrowserKey[] = L"Software\\Microsoft\\Internet Explorer\\Main";
constexpr wchar_t kTileValue[] = L"ApplicationTileImmersiveActivation";
constexpr wchar_t kBefore[] = L"text from before the search";
// What the search pane stand-in puts on the clipboard when it holds it open.
constexpr wchar_t kHeldText[] = L"text of the program that holds the clipboard";
constexpr wchar_t kTileNote[] = L"TileImmersiveActivationToRestore";
constexpr wchar_t kPaintKeyword[] = L"\"Paint\" NOT(\"paint studio\" OR \"paint tool\")";
constexpr DWORD kTickSlackMs = 16;

std::wstring BaseName() {
  wchar_t exe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring name = std::wcsrchr(exe, L'\\') + 1;
  return name.substr(0, name.find(L'.'));
}

std::string U8(const std::optional<std::wstring>& s) { return s ? hkbtest::Utf8(*s) : "(none)"; }

bool ShiftIsUp() { return (::GetAsyncKeyState(VK_SHIFT) & 0x8000) == 0; }

bool EmptyTheClipboard() {
  return hkbtest::WaitUntil([] {
    if (!::OpenClipboard(nullptr)) return false;
    const bool emptied = ::EmptyClipboard() != FALSE;
    ::CloseClipboard();
    return emptied;
  });
}

std::string Setting(const std::optional<hkbtest::RegData>& d) {
  if (!d) return "none";
  if (d->type != REG_DWORD || d->bytes.size() != 4) return "t" + std::to_string(d->type);
  DWORD v = 0;
  std::memcpy(&v, d->bytes.data(), 4);
  return "d:" + std::to_string(v);
}

// What one launch left behind.
struct Outcome {
  HRESULT hr = E_UNEXPECTED;
  std::vector<KeyEvent> keys;
  std::vector<Paste> pastes;
  DWORD lastClipboardChange = 0;
  bool fenced = false;
};

struct SearchCase {
  const char* what;
  const wchar_t* name;
  UINT mode;
  BOOL exclusion;
  std::string screen;  // app-visibility scenario
  int polls;           // -1: the Start screen shows already, no Windows key
  std::string pane;    // search pane scenario
  int stays;
  const wchar_t* pasted;
  std::optional<DWORD> clearWait;  // "ClearClipboardWaitTime"; none: missing
};

// The library initialized on the test thread with the stand-ins in place and
// a catalogue of three shortcuts: "Paint" (an exact match), "Paint Studio"
// and "Paint Tool", the last two in that order (one per Start Menu tree).
class SearchLaunch : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_pm.ok() && m_visibility.ok()) << "stand-ins not registered";
    ASSERT_TRUE(m_pane.ok()) << "the search pane stand-in did not start";
    ASSERT_TRUE(m_dll.Initialize && m_dll.Finalize && m_dll.LaunchBySearch && m_dll.LaunchIEBySearch);
    for (const std::wstring& shortcut :
         {m_users.CommonPrograms() + L"\\Paint Studio.lnk", m_users.UserPrograms() + L"\\Paint Tool.lnk",
          m_users.UserPrograms() + L"\\Paint.lnk"})
      ASSERT_TRUE(hkbtest::WriteFileBytes(shortcut, ""));
    m_debug.emplace(HKEY_LOCAL_MACHINE, kSettings, L"DebugLog", hkbtest::RegDword(1));
  }
  void TearDown() override {
    if (m_initialized) m_dll.Finalize();
  }
  // Initializes the library and waits for the first refresh to save the catalogue.
  void Initialize() {
    ASSERT_EQ(m_dll.Initialize(), S_OK);
    m_initialized = true;
    ASSERT_TRUE(hkbtest::WaitUntil([&] { return hkbtest::FileExists(m_users.Catalogue(BaseName())); }));
  }
  // Runs one launch with the clipboard holding `before` (kBefore, or nothing)
  // and the test thread's extra information marked; then waits until the
  // pane has seen every key.
  Outcome Launch(const std::function<HRESULT()>& call,
                 const std::optional<std::wstring>& before = std::wstring(kBefore)) {
    Outcome o;
    EXPECT_TRUE(before ? hkbtest::SetClipboardText(*before) : EmptyTheClipboard());
    const size_t from = m_pane.RecordCount();
    ::SetMessageExtraInfo(static_cast<LPARAM>(hkbhtest::kMarkedExtraInfo));
    {
      hkbhtest::ClipboardWatch watch;
      o.hr = call();
      o.lastClipboardChange = watch.Stop();
    }
    o.fenced = m_pane.Fence();
    o.keys = m_pane.Keys(from);
    o.pastes = m_pane.Pastes(from);
    return o;
  }
  // Each case with its own screen and pane scenario.
  void RunCases(const SearchCase* begin, const SearchCase* end);
  size_t LogLines(const std::string& needle) const {
    return hkbhtest::CountLines(m_users.Log(BaseName()), needle);
  }

  hkbhtest::ScopedUserFolders m_users;
  hkbhtest::ScopedPackageManager m_pm;
  hkbtest::AppVisibilityStandin m_visibility;
  // The browser search keeps a note under the library's key of the user.
  hkbtest::ScopedRegKey m_userSettings{HKEY_CURRENT_USER, kSettings};
  SearchPane m_pane;
  hkbhtest::HkbHelperDll m_dll;
  std::optional<hkbtest::ScopedRegValue> m_debug;
  bool m_initialized = false;
};

// Every successful search ends alike: the result, the keys in their order
// with their pauses, the text pasted each time, the clipboard's earlier text
// back in place (not before the last pause) and the Shift key up.
void ExpectCleanSearch(const Outcome& o, const KeySequence& keys, size_t pastes, const std::wstring& text) {
  EXPECT_EQ(o.hr, S_OK);
  ASSERT_TRUE(o.fenced) << "the pane did not see the test's own key";
  EXPECT_EQ(hkbhtest::CompareKeys(o.keys, keys), "");
  ASSERT_EQ(o.pastes.size(), pastes);
  for (const Paste& p : o.pastes) EXPECT_EQ(U8(p.text), hkbtest::Utf8(text));
  EXPECT_EQ(U8(hkbtest::ClipboardText()), U8(std::wstring(kBefore)));
  EXPECT_TRUE(ShiftIsUp());
  // The clipboard is given back after the pause that precedes the Shift release.
  const auto& want = keys.keys();
  if (o.keys.size() == want.size() && want.size() >= 2) {
    const DWORD before_release = o.keys[o.keys.size() - 2].time;
    EXPECT_GE(o.lastClipboardChange + kTickSlackMs, before_release + want.back().minGapMs)
        << "the clipboard was given back " << (o.lastClipboardChange - before_release)
        << " ms after the last key before the Shift release";
  }
}

// The keys of one search: the Windows key first unless the Start screen
// shows, with `polls` state queries until it does; Windows key + Q; then the
// paste and Enter with `stays` repeats, or (mode 1) the paste alone between
// its two waits; the Shift release last.
KeySequence SearchKeys(int polls, UINT mode, int stays, DWORD clearWaitMs) {
  KeySequence k;
  if (polls >= 0) k.WindowsKey().Wait(100 * static_cast<DWORD>(polls));
  k.WindowsKeyQ().Wait(100 + 200);
  if (mode == 1) return k.Wait(2000).ShiftInsert().Wait(clearWaitMs).ShiftUp();
  k.ShiftInsert().Enter();
  for (int i = 0; i < stays; ++i) k.Wait(1000).ShiftInsert().Enter();
  return k.Wait(100).ShiftUp();
}

const SearchCase kEnterCases[] = {
    {"Start screen showing, mode 0",
     L"Notes",
     0,
     FALSE,
     "launcher=1\nvisibility=2\n",
     -1,
     "",
     0,
     L"\"Notes\"",
     {}},
    {"desktop, mode 0 with the exclusion clause",
     L"Paint",
     0,
     TRUE,
     "launcher=0,0,1\nvisibility=1\n",
     1,
     "",
     0,
     kPaintKeyword,
     {}},
    {"full-screen app, mode 2 with an exact match: the name",
     L"Paint",
     2,
     TRUE,
     "launcher=0,0,1\nvisibility=2,2,1\n",
     1,
     "",
     0,
     L"Paint",
     {}},
    {"unknown visibility, mode 2 without a match: no NOT clause",
     L"Paint Box",
     2,
     TRUE,
     "launcher=1,1,1\nvisibility=0,0,2\n",
     1,
     "",
     0,
     L"\"Paint Box\"",
     {}},
    {"mode 2 without the exclusion flag: the keyword",
     L"Paint",
     2,
     FALSE,
     "launcher=1\nvisibility=1\n",
     -1,
     "",
     0,
     L"\"Paint\"",
     {}},
    {"the pane stays through two Enters",
     L"Notes",
     0,
     FALSE,
     "launcher=1\n",
     -1,
     "stay=2\n",
     2,
     L"\"Notes\"",
     {}},
    {"the pane holds the clipboard as it goes",
     L"Notes",
     0,
     FALSE,
     "launcher=1\n",
     -1,
     "hold=600\n",
     0,
     L"\"Notes\"",
     {}},
};

const SearchCase kOtherCases[] = {
    {"the Start screen never comes: 20 polls",
     L"Notes",
     0,
     FALSE,
     "launcher=0\nvisibility=1\n",
     20,
     "",
     0,
     L"\"Notes\"",
     {}},
    {"mode 1: the name, no Enter, the default wait",
     L"Paint",
     1,
     TRUE,
     "launcher=1\n",
     -1,
     "",
     0,
     L"Paint",
     {}},
    {"mode 1 with a wait of 1500 ms", L"Paint Tool", 1, FALSE, "launcher=0,0,1\n", 1, "", 0, L"Paint Tool",
     1500u},
};

void SearchLaunch::RunCases(const SearchCase* begin, const SearchCase* end) {
  const HMONITOR primary = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  wchar_t primary_hex[32];
  std::swprintf(primary_hex, 32, L"%llx",
                static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(primary)));
  for (const SearchCase* c = begin; c != end; ++c) {
    SCOPED_TRACE(c->what);
    ASSERT_TRUE(m_visibility.SetScenario(c->screen));
    ASSERT_TRUE(m_pane.SetScenario(c->pane));
    std::optional<hkbtest::ScopedRegValue> wait;
    if (c->clearWait)
      wait.emplace(HKEY_LOCAL_MACHINE, kSettings, L"ClearClipboardWaitTime",
                   hkbtest::RegDword(*c->clearWait));
    const size_t calls_before = m_visibility.Calls().size();
    const Outcome o = Launch([&] { return m_dll.LaunchBySearch(c->name, c->mode, c->exclusion); });
    ExpectCleanSearch(o, SearchKeys(c->polls, c->mode, c->stays, c->clearWait.value_or(1000)),
                      static_cast<size_t>(1 + c->stays), c->pasted);
    // One state query, or two and one per poll; always for the primary monitor.
    const std::vector<std::wstring> calls = m_visibility.Calls();
    const size_t queries = c->polls < 0 ? 1 : 2 + static_cast<size_t>(c->polls);
    EXPECT_EQ(calls.size() - calls_before, 2 * queries);
    for (const std::wstring& m : m_visibility.Monitors()) EXPECT_EQ(m, primary_hex);
  }
}

TEST_F(SearchLaunch, EnterModesPasteTheirTextAndCleanUp) {
  Initialize();
  RunCases(std::begin(kEnterCases), std::end(kEnterCases));
  EXPECT_EQ(LogLines("HkbhLaunchBySearch szKeyword = \"Paint\" NOT(\"paint studio\" OR \"paint tool\") "),
            2u);
  EXPECT_EQ(m_visibility.Calls().front(), L"create");
}

TEST_F(SearchLaunch, NameModeWaitsAndLongStartScreenWait) {
  Initialize();
  RunCases(std::begin(kOtherCases), std::end(kOtherCases));
}

// A pane that stays in front through every Enter: the paste and Enter are
// repeated 20 times, and the release follows the last Enter at once.
TEST_F(SearchLaunch, ResendLoopEndsAfterTwentyRepeats) {
  Initialize();
  ASSERT_TRUE(m_pane.SetScenario("stay=1000\n"));
  const Outcome o = Launch([&] { return m_dll.LaunchBySearch(L"Paint", 0, TRUE); });
  KeySequence keys;
  keys.WindowsKeyQ().Wait(300).ShiftInsert().Enter();
  for (int i = 0; i < 20; ++i) keys.Wait(1000).ShiftInsert().Enter();
  keys.ShiftUp();
  ExpectCleanSearch(o, keys, 21, kPaintKeyword);
  EXPECT_EQ(m_pane.Count(L"stay", 0), 21u);
  // The pane still shows the last text pasted.
  EXPECT_TRUE(hkbtest::SaveScreenshot(L"hkbhelper_search_pane.bmp"));
}

// Without a search pane the search waits its 20 s, then pastes and presses
// Enter all the same, and succeeds.
TEST_F(SearchLaunch, SearchPaneThatNeverComesStillEndsClean) {
  Initialize();
  ASSERT_TRUE(m_pane.SetScenario("appear=0\n"));
  const Outcome o = Launch([&] { return m_dll.LaunchBySearch(L"Notes", 0, FALSE); });
  KeySequence keys;
  keys.WindowsKeyQ().Wait(20000 + 200).ShiftInsert().Enter().Wait(100).ShiftUp();
  ExpectCleanSearch(o, keys, 0, L"");
  EXPECT_EQ(m_pane.Count(L"shown", 0), 0u);
}

// Argument errors and an unreadable screen state: the result, no key sent,
// the clipboard as it was, the browser setting as it was.
TEST_F(SearchLaunch, FailuresSendNoKeyAndLeaveClipboardAndSettingAlone) {
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kBrowserKey, kTileValue, hkbtest::RegDword(1));
  struct Case {
    const char* what;
    bool initialized;
    std::string screen;
    std::function<HRESULT()> call;
    HRESULT result;
    bool asks_the_service;
  };
  const hkbhtest::HkbHelperDll& d = m_dll;
  const Case cases[] = {
      {"not initialized", false, "launcher=1\n", [&] { return d.LaunchBySearch(L"Paint", 0, TRUE); }, E_FAIL,
       false},
      {"browser, not initialized", false, "launcher=1\n", [&] { return d.LaunchIEBySearch(0, 0, FALSE); },
       E_FAIL, false},
      {"null name", true, "launcher=1\n", [&] { return d.LaunchBySearch(nullptr, 0, FALSE); }, E_POINTER,
       false},
      {"empty name", true, "launcher=1\n", [&] { return d.LaunchBySearch(L"", 0, TRUE); }, E_INVALIDARG,
       false},
      {"mode 3", true, "launcher=1\n", [&] { return d.LaunchBySearch(L"Paint", 3, TRUE); }, E_INVALIDARG,
       false},
      {"tile mode 3", true, "launcher=1\n", [&] { return d.LaunchIEBySearch(3, 0, FALSE); }, E_INVALIDARG,
       false},
      {"browser search mode 3", true, "launcher=1\n", [&] { return d.LaunchIEBySearch(0, 3, FALSE); },
       E_INVALIDARG, false},
      {"launcher visibility fails", true, "launcher.hr=0x80004005\n",
       [&] { return d.LaunchBySearch(L"Paint", 0, TRUE); }, E_FAIL, true},
      {"app visibility fails", true, "visibility.hr=0x8000FFFF\n",
       [&] { return d.LaunchBySearch(L"Paint", 1, FALSE); }, E_FAIL, true},
      {"browser with the service failing", true, "launcher.hr=0x80004005\n",
       [&] { return d.LaunchIEBySearch(0, 0, FALSE); }, E_FAIL, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.initialized && !m_initialized) Initialize();
    ASSERT_TRUE(m_visibility.SetScenario(c.screen));
    const size_t calls_before = m_visibility.Calls().size();
    const Outcome o = Launch(c.call);
    EXPECT_EQ(o.hr, c.result);
    ASSERT_TRUE(o.fenced);
    EXPECT_EQ(o.keys.size(), 0u) << hkbhtest::Describe(o.keys);
    EXPECT_EQ(hkbtest::ClipboardText(), std::wstring(kBefore));
    EXPECT_EQ(Setting(hkbtest::ReadRegValue(HKEY_CURRENT_USER, kBrowserKey, kTileValue)), "d:1");
    EXPECT_EQ(m_visibility.Calls().size() > calls_before, c.asks_the_service);
  }
  EXPECT_EQ(LogLines("HkbhLaunchBySearch((null), 0, 0) IN"), 1u);
  EXPECT_EQ(LogLines("HkbhLaunchBySearch(Paint, 3, 1) IN"), 1u);
  EXPECT_EQ(LogLines("HkbhLaunchBySearch OUT(SwitchToStartScreen : ret=0x80004005)"), 3u);
  EXPECT_EQ(LogLines("CHkbhReg::SetCurrentTileImmersiveActivation"), 4u)
      << "0, then 1 again: IN and OUT each";
}

// The browser search: the setting during the search (as the pane saw it at the
// paste) and after it, for each tile mode and starting value.
TEST_F(SearchLaunch, BrowserSettingChangesForTheSearchOnly) {
  Initialize();
  struct Case {
    UINT tile;
    std::optional<hkbtest::RegData> before;
    const char* during;
  } const cases[] = {
      {0, hkbtest::RegDword(1), "d:0"}, {0, std::nullopt, "d:0"},         {1, std::nullopt, "none"},
      {1, hkbtest::RegDword(0), "d:1"}, {1, hkbtest::RegDword(1), "d:1"}, {2, hkbtest::RegDword(0), "d:0"},
      {0, hkbtest::RegSz(L"1"), "t1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tile " << c.tile << ", before " << Setting(c.before));
    hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kBrowserKey, kTileValue, c.before);
    ASSERT_TRUE(setting.ok());
    const Outcome o = Launch([&] { return m_dll.LaunchIEBySearch(c.tile, 0, FALSE); });
    EXPECT_EQ(o.hr, S_OK);
    ASSERT_EQ(o.pastes.size(), 1u);
    EXPECT_EQ(U8(o.pastes[0].text), "\"Internet Explorer\"");
    EXPECT_EQ(hkbtest::Utf8(o.pastes[0].browserSetting), c.during);
    const std::optional<hkbtest::RegData> after =
        hkbtest::ReadRegValue(HKEY_CURRENT_USER, kBrowserKey, kTileValue);
    EXPECT_EQ(Setting(after), Setting(c.before));
    if (after && c.before) {
      EXPECT_EQ(after->bytes, c.before->bytes);
    }
    EXPECT_TRUE(ShiftIsUp());
    EXPECT_EQ(U8(hkbtest::ClipboardText()), U8(std::wstring(kBefore)));
    EXPECT_EQ(hkbtest::ReadRegValue(HKEY_CURRENT_USER, kSettings, kTileNote).has_value(), false)
        << "the note of the value to put back is gone with the search";
  }
}

// Another program holds the clipboard open (the pane, with a text of its own
// on it) while the search would put its text there: no paste and no Enter
// follow, no key stays down, the call fails, and the other program's text and
// the browser setting are as they were. A normal search on an empty clipboard
// leaves it empty.
TEST_F(SearchLaunch, ClipboardHeldByAnotherProgramMeansNoPaste) {
  Initialize();
  hkbtest::ScopedRegValue setting(HKEY_CURRENT_USER, kBrowserKey, kTileValue, hkbtest::RegDword(1));
  ASSERT_TRUE(m_visibility.SetScenario("launcher=1\n"));
  ASSERT_TRUE(m_pane.SetScenario("grab=6000\n"));
  struct Case {
    const char* what;
    std::function<HRESULT()> call;
  } const cases[] = {
      {"mode 0", [&] { return m_dll.LaunchBySearch(L"Paint", 0, TRUE); }},
      {"mode 1", [&] { return m_dll.LaunchBySearch(L"Paint", 1, FALSE); }},
      {"browser, tile mode 0", [&] { return m_dll.LaunchIEBySearch(0, 2, FALSE); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t from = m_pane.RecordCount();
    const Outcome o = Launch(c.call);
    EXPECT_EQ(o.hr, CLIPBRD_E_CANT_SET);
    ASSERT_TRUE(o.fenced);
    EXPECT_EQ(m_pane.Count(L"grab", from), 1u);
    EXPECT_EQ(hkbhtest::CompareKeys(o.keys, KeySequence().WindowsKeyQ()), "");
    EXPECT_TRUE(o.pastes.empty()) << "pasted: " << U8(o.pastes.empty() ? std::nullopt : o.pastes[0].text);
    EXPECT_TRUE(ShiftIsUp());
    ASSERT_TRUE(hkbtest::WaitUntil([&] { return m_pane.Count(L"released", from) == 1; }));
    EXPECT_EQ(U8(hkbtest::ClipboardText()), U8(std::wstring(kHeldText)));
    EXPECT_EQ(Setting(hkbtest::ReadRegValue(HKEY_CURRENT_USER, kBrowserKey, kTileValue)), "d:1");
  }
  EXPECT_EQ(LogLines("HkbhLaunchBySearch OUT(0x800401D2)"), 3u);

  ASSERT_TRUE(m_pane.SetScenario(""));
  const Outcome o = Launch([&] { return m_dll.LaunchBySearch(L"Notes", 0, FALSE); }, std::nullopt);
  EXPECT_EQ(o.hr, S_OK);
  ASSERT_EQ(o.pastes.size(), 1u);
  EXPECT_EQ(U8(o.pastes[0].text), "\"Notes\"");
  EXPECT_EQ(hkbtest::ClipboardText(), std::nullopt);
  EXPECT_EQ(::CountClipboardFormats(), 0);
}

// A host ended while its browser search has the setting changed leaves it
// so; the next host's HkbhInitialize puts it back as it was (a value, or
// none) and forgets the note of it.
TEST_F(SearchLaunch, BrowserSettingOfAnEndedHostIsPutBackByTheNextInitialize) {
  ASSERT_TRUE(m_visibility.SetScenario("launcher=1\n"));
  ASSERT_TRUE(m_pane.SetScenario(""));
  const std::wstring host = hkbtest::StandinFile(L"hkbh_host.exe");
  hkbhtest::ScopedFolder results;
  const auto setting = [] {
    return Setting(hkbtest::ReadRegValue(HKEY_CURRENT_USER, kBrowserKey, kTileValue));
  };
  const auto noted = [] {
    return hkbtest::ReadRegValue(HKEY_CURRENT_USER, kSettings, kTileNote).has_value();
  };
  for (const std::optional<hkbtest::RegData>& before :
       {std::optional(hkbtest::RegDword(1)), std::optional<hkbtest::RegData>()}) {
    SCOPED_TRACE("before: " + Setting(before));
    hkbtest::ScopedRegValue scoped(HKEY_CURRENT_USER, kBrowserKey, kTileValue, before);
    ASSERT_TRUE(scoped.ok());
    const size_t from = m_pane.RecordCount();
    {
      // Mode 1 waits two seconds before its paste: the host is ended there,
      // once the Windows key is up again.
      HostProcess searching(host, results, {}, L"ie-search");
      ASSERT_TRUE(searching.started());
      ASSERT_EQ(searching.WaitInitialized().substr(0, 15), "init 0x00000000");
      ASSERT_TRUE(hkbtest::WaitUntil([&] {
        bool shown = false;
        for (const KeyEvent& k : m_pane.Keys(from))
          if (k.vk == VK_LWIN && (k.flags & LLKHF_UP)) shown = true;
        return shown && m_pane.Count(L"shown", from) == 1;
      }));
      EXPECT_EQ(setting(), "d:0");
      EXPECT_TRUE(noted());
      ASSERT_TRUE(searching.Kill());
    }
    EXPECT_EQ(setting(), "d:0") << "the ended host left the setting changed";
    EXPECT_EQ(m_pane.Count(L"paste", from), 0u);

    HostProcess next(host, results);
    ASSERT_TRUE(next.started());
    ASSERT_EQ(next.WaitInitialized().substr(0, 15), "init 0x00000000");
    EXPECT_EQ(setting(), Setting(before));
    EXPECT_FALSE(noted());
    EXPECT_EQ(next.Stop(), 0u);
  }
}

// ---------------------------------------------------------------------------
// The activation manager launch: no initialization needed, COM initialized
// around the call and left as it was.

APTTYPE Apartment() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  return SUCCEEDED(::CoGetApartmentType(&type, &qualifier)) ? type : static_cast<APTTYPE>(-2);
}

TEST(LaunchByManager, PassesIdAndArgumentsAndTheResult) {
  hkbtest::ActivationManagerStandin activation;
  ASSERT_TRUE(activation.ok());
  hkbhtest::HkbHelperDll dll;
  ASSERT_TRUE(dll.LaunchByManager);
  const wchar_t* id = L"Vendor.Notes_1a2b3c4d5e6f7!App";
  struct Case {
    const wchar_t* id;
    const wchar_t* arguments;
    HRESULT answer;
    HRESULT result;
    bool activated;
  } const cases[] = {
      {id, nullptr, S_OK, S_OK, true},
      {id, L"", S_OK, S_OK, true},
      {id, L"?section=PowerSection&=", S_OK, S_OK, true},
      {id, L"--page 2", static_cast<HRESULT>(0x80270254), static_cast<HRESULT>(0x80270254), true},
      {nullptr, L"x", S_OK, E_POINTER, false},
      {L"", L"x", S_OK, E_INVALIDARG, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.id ? hkbtest::Utf8(c.id) : "(null)") << " "
                                    << (c.arguments ? hkbtest::Utf8(c.arguments) : "(null)"));
    ASSERT_TRUE(activation.SetResult(c.answer));
    const size_t before = activation.Activations().size();
    EXPECT_EQ(dll.LaunchByManager(c.id, c.arguments), c.result);
    const std::vector<hkbtest::Activation> all = activation.Activations();
    const std::vector<hkbtest::Activation> made(all.begin() + static_cast<long>(before), all.end());
    if (c.activated) {
      EXPECT_EQ(made, std::vector<hkbtest::Activation>{hkbtest::Activated(
                          c.id, c.arguments ? std::optional<std::wstring>(c.arguments) : std::nullopt)});
    } else {
      EXPECT_TRUE(made.empty());
    }
    EXPECT_EQ(Apartment(), static_cast<APTTYPE>(-2)) << "COM is left uninitialized";
  }

  // A caller in the multithreaded apartment: activated there, and it stays so.
  std::thread mta([&] {
    hkb::ComInit com(COINIT_MULTITHREADED);
    ASSERT_TRUE(com.ok());
    EXPECT_EQ(dll.LaunchByManager(id, L"mta"), S_OK);
    EXPECT_EQ(Apartment(), APTTYPE_MTA);
  });
  mta.join();
  EXPECT_EQ(activation.Activations().back(), hkbtest::Activated(id, L"mta"));
}

TEST(LaunchByManager, WithoutTheClassTheCreationResult) {
  ASSERT_FALSE(hkbtest::KeyExists(
      HKEY_LOCAL_MACHINE, hkbtest::ScopedInprocServer::KeyOf(hkbtest::ActivationManagerStandin::kClsid)));
  hkbhtest::HkbHelperDll dll;
  ASSERT_TRUE(dll.LaunchByManager);
  EXPECT_EQ(dll.LaunchByManager(L"Vendor.Notes_1a2b3c4d5e6f7!App", nullptr), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Apartment(), static_cast<APTTYPE>(-2));
}

}  // namespace
