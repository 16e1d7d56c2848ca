#include "monitor_mode.h"

#include <cstring>
#include <cwchar>
#include <utility>

#include "hkb/unique.h"
#include "hkbh_log.h"
#include "search_logic.h"

namespace {

constexpr wchar_t kInitialize[] = L"CHkbhMonitorMode::Initialize";
constexpr wchar_t kFinalize[] = L"CHkbhMonitorMode::Finalize";
constexpr wchar_t kGetMonitorState[] = L"CHkbhMonitorMode::GetMonitorState";
constexpr wchar_t kSwitchToStartScreen[] = L"CHkbhMonitorMode::SwitchToStartScreen";
constexpr wchar_t kOpenAppSearchUI[] = L"CHkbhMonitorMode::OpenAppSearchUI";
constexpr wchar_t kSendKey[] = L"CHkbhKeyEmulate::Sendinput_Key";
constexpr wchar_t kSendWin[] = L"CHkbhKeyEmulate::Sendinput_Win";
constexpr wchar_t kSendWinQ[] = L"CHkbhKeyEmulate::SendInput_Win_Q";
constexpr wchar_t kSendEnter[] = L"CHkbhKeyEmulate::SendInput_Enter";
constexpr wchar_t kSendShiftInsert[] = L"CHkbhKeyEmulate::SendInput_Shift_Insert";
constexpr wchar_t kSetClipboardData[] = L"CHkbhClipboard::SetClipboardData";

constexpr wchar_t kSearchPaneClass[] = L"SearchPane";

// {7E5FE3D9-985F-4908-91F9-EE19F9FD1514}, {2246EA2D-CAEA-4444-A3C4-6DE827E44313}
constexpr CLSID kAppVisibilityClass = {
    0x7e5fe3d9, 0x985f, 0x4908, {0x91, 0xf9, 0xee, 0x19, 0xf9, 0xfd, 0x15, 0x14}};
constexpr IID kAppVisibilityInterface = {
    0x2246ea2d, 0xcaea, 0x4444, {0xa3, 0xc4, 0x6d, 0xe8, 0x27, 0xe4, 0x43, 0x13}};

constexpr int kStartScreenPolls = 20;
constexpr int kSearchPanePolls = 200;
constexpr DWORD kPollMs = 100;
constexpr DWORD kKeyGapMs = 50;
constexpr DWORD kQHeldMs = 100;
constexpr DWORD kAfterWinQMs = 200;
constexpr DWORD kAfterPasteMs = 1000;
constexpr DWORD kAfterSearchPaneMs = 200;

constexpr WORD kKeyQ = 0x51;
constexpr WORD kScanQ = 0x10;

// One keyboard event, sent alone.
void SendKeyEvent(WORD virtualKey, WORD scanCode, DWORD flags, ULONG_PTR extraInfo) {
  INPUT input = {};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = scanCode;
  input.ki.dwFlags = flags;
  input.ki.time = 0;
  input.ki.dwExtraInfo = extraInfo;
  ::SendInput(1, &input, sizeof(INPUT));
}

// The Windows-key and Enter events that the sequences build themselves: no
// scan code, no extra information.
void SendBareKey(WORD virtualKey, DWORD flags) {
  WriteLog("%S(0x%04X, 0x%08X) IN\r\n", kSendKey, virtualKey, static_cast<unsigned>(flags));
  const HkbhTrace trace(kSendKey, HkbhTrace::InWritten{});
  SendKeyEvent(virtualKey, 0, flags, 0);
  trace.Out();
}

WORD ScanCodeOf(WORD virtualKey) { return static_cast<WORD>(::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)); }

// Another program may hold the clipboard open for a moment (one that reads
// every change does so right after ours): up to about a second is given.
constexpr int kClipboardTries = 20;
constexpr DWORD kClipboardRetryMs = 50;

// Runs `use` with the clipboard open; false when it could not be opened.
template <class Use>
bool WithClipboard(Use&& use) {
  for (int attempt = 0; attempt < kClipboardTries; ++attempt) {
    if (attempt > 0) ::Sleep(kClipboardRetryMs);
    hkb::ClipboardOpen clipboard(nullptr);
    if (clipboard) {
      use();
      return true;
    }
  }
  return false;
}

// The open clipboard's CF_UNICODETEXT, if it holds one; read no further than
// its block reaches.
std::optional<std::wstring> TextOnOpenClipboard() {
  const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return std::nullopt;
  hkb::GlobalLockScope locked(data);
  const auto* text = static_cast<const wchar_t*>(locked.get());
  if (text == nullptr) return std::nullopt;
  const size_t units = ::GlobalSize(data) / sizeof(wchar_t);
  return std::wstring(text, ::wcsnlen(text, units));
}

// Whether the open clipboard's CF_UNICODETEXT is exactly `text`; allocates
// nothing, so that it may run while a search is being left on an exception.
bool OpenClipboardHolds(const wchar_t* text) {
  if (text == nullptr) return false;
  const HANDLE data = ::GetClipboardData(CF_UNICODETEXT);
  if (data == nullptr) return false;
  hkb::GlobalLockScope locked(data);
  const auto* held = static_cast<const wchar_t*>(locked.get());
  if (held == nullptr) return false;
  const size_t units = ::GlobalSize(data) / sizeof(wchar_t);
  const size_t length = std::wcslen(text);
  return ::wcsnlen(held, units) == length && std::wmemcmp(held, text, length) == 0;
}

// COM on the thread that initialized the library. Only Finalize ends it, on
// that thread; a library unloaded without Finalize leaves it to the host.
struct ComUntilFinalize {
  std::optional<hkb::ComInit> com;
  ~ComUntilFinalize() {
    if (com) com->dismiss();
  }
} s_com;

}  // namespace

hkb::ComPtr<IAppVisibility> CHkbhMonitorMode::m_pImmersiveMode;

CHkbhMonitorMode::~CHkbhMonitorMode() = default;

HRESULT CHkbhMonitorMode::Initialize() {
  const HkbhTrace trace(kInitialize);
  s_com.com.emplace(COINIT_APARTMENTTHREADED);
  HRESULT hr = s_com.com->result();
  if (FAILED(hr)) {
    s_com.com.reset();
    WriteLog("%S OUT CoInitializeEx:(%d)\r\n", kInitialize, static_cast<int>(hr));
    return hr;
  }
  hkb::ComPtr<IAppVisibility> service;
  hr = ::CoCreateInstance(kAppVisibilityClass, nullptr, CLSCTX_INPROC_SERVER, kAppVisibilityInterface,
                          service.put_void());
  if (SUCCEEDED(hr) && !service) hr = E_NOINTERFACE;
  if (FAILED(hr)) {
    service.reset();
    s_com.com.reset();
    m_pImmersiveMode.reset();
    WriteLog("%S OUT CoCreateInstance:(%d)\r\n", kInitialize, static_cast<int>(hr));
    return hr;
  }
  m_pImmersiveMode = std::move(service);
  trace.OutValue(static_cast<int>(hr));
  return hr;
}

void CHkbhMonitorMode::Finalize() {
  const HkbhTrace trace(kFinalize);
  m_pImmersiveMode.reset();
  s_com.com.reset();
  trace.Out();
}

int CHkbhMonitorMode::GetMonitorState(int* mode) {
  const HkbhTrace trace(kGetMonitorState);
  if (mode == nullptr) {
    return trace.OutValue(-1);
  }
  IAppVisibility* service = m_pImmersiveMode.get();
  if (service == nullptr) {
    WriteLog("%S OUT( m_pImmersiveMode NULL : %d)\r\n", kGetMonitorState, -1);
    return -1;
  }
  BOOL launcherVisible = FALSE;
  if (FAILED(service->IsLauncherVisible(&launcherVisible))) {
    WriteLog("%S OUT(%d) IsLauncherVisible Err \r\n", kGetMonitorState, -2);
    return -2;
  }
  const HMONITOR monitor = ::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
  MONITOR_APP_VISIBILITY visibility = MAV_UNKNOWN;
  if (FAILED(service->GetAppVisibilityOnMonitor(monitor, &visibility))) {
    WriteLog("%S OUT(%d) MonitorFromPoint(%d)\r\n", kGetMonitorState, -2,
             static_cast<int>(reinterpret_cast<INT_PTR>(monitor)));
    return -2;
  }
  *mode = hkbh::ScreenStateFor(launcherVisible != FALSE, static_cast<int32_t>(visibility));
  if (*mode == hkbh::kScreenUnknown)
    WriteLog("%S OUT(%d) dwMode()\r\n", kGetMonitorState, 0);
  else
    WriteLog("%S OUT(%d) dwMode(%d)\r\n", kGetMonitorState, 0, *mode);
  return 0;
}

int CHkbhMonitorMode::SwitchToStartScreen() {
  const HkbhTrace trace(kSwitchToStartScreen);
  int mode = hkbh::kScreenUnknown;
  const int result = GetMonitorState(&mode);
  if (result != 0) {
    WriteLog("%S OUT : GetMonitorState(%d) \r\n", kSwitchToStartScreen, result);
  } else {
    WriteLog("dwMode = %d \r\n", mode);
    if (mode != hkbh::kScreenStart) {
      CHkbhKeyEmulate::Sendinput_Win();
      for (int i = 0; i < kStartScreenPolls && mode != hkbh::kScreenStart; ++i) {
        ::Sleep(kPollMs);
        GetMonitorState(&mode);
        WriteLog("dwMode = %d \r\n", mode);
      }
    }
  }
  return trace.OutValue(result);
}

HRESULT CHkbhMonitorMode::OpenAppSearchUI() {
  const HkbhTrace trace(kOpenAppSearchUI);
  int mode = hkbh::kScreenUnknown;
  if (GetMonitorState(&mode) != 0) {
    WriteLog("%S OUT(GetMonitorState : ret=0x%08X)\r\n", kOpenAppSearchUI, static_cast<unsigned>(E_FAIL));
    return E_FAIL;
  }
  if (mode != hkbh::kScreenStart) {
    const int result = SwitchToStartScreen();
    if (result != 0) {
      WriteLog("%S OUT(OpenAppSearchUI : ret=0x%08X)\r\n", kOpenAppSearchUI, static_cast<unsigned>(result));
      return E_FAIL;
    }
  }
  CHkbhKeyEmulate::SendInput_Win_Q();
  for (int i = 0; i < kSearchPanePolls; ++i) {
    ::Sleep(kPollMs);
    if (IsSearchPaneForeground()) break;
  }
  ::Sleep(kAfterSearchPaneMs);
  return trace.Out(S_OK);
}

int CHkbhMonitorMode::IsSearchPaneForeground() {
  const HWND foreground = ::GetForegroundWindow();
  if (foreground == nullptr) return 0;
  wchar_t className[260] = {};
  if (::GetClassNameW(foreground, className, 260) == 0) return 0;
  return std::wcscmp(className, kSearchPaneClass) == 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------

void CHkbhKeyEmulate::Sendinput_Key(WORD virtualKey, WORD scanCode, DWORD flags) {
  WriteLog("%S(0x%04X, 0x%04X, 0x%08X) IN\r\n", kSendKey, virtualKey, scanCode, static_cast<unsigned>(flags));
  const HkbhTrace trace(kSendKey, HkbhTrace::InWritten{});
  SendKeyEvent(virtualKey, scanCode, flags, static_cast<ULONG_PTR>(::GetMessageExtraInfo()));
  trace.Out();
}

void CHkbhKeyEmulate::Sendinput_Win() {
  const HkbhTrace trace(kSendWin);
  SendBareKey(VK_LWIN, KEYEVENTF_EXTENDEDKEY);
  ::Sleep(kKeyGapMs);
  SendBareKey(VK_LWIN, KEYEVENTF_KEYUP);
  ::Sleep(kKeyGapMs);
  trace.Out();
}

void CHkbhKeyEmulate::SendInput_Win_Q() {
  const HkbhTrace trace(kSendWinQ);
  SendBareKey(VK_LWIN, KEYEVENTF_EXTENDEDKEY);
  ::Sleep(kKeyGapMs);
  Sendinput_Key(kKeyQ, kScanQ, KEYEVENTF_SCANCODE);
  ::Sleep(kKeyGapMs);
  Sendinput_Key(kKeyQ, kScanQ, KEYEVENTF_KEYUP);
  ::Sleep(kQHeldMs);
  SendBareKey(VK_LWIN, KEYEVENTF_KEYUP);
  ::Sleep(kAfterWinQMs);
  trace.Out();
}

void CHkbhKeyEmulate::SendInput_Enter() {
  const HkbhTrace trace(kSendEnter);
  SendBareKey(VK_RETURN, KEYEVENTF_EXTENDEDKEY);
  ::Sleep(kKeyGapMs);
  SendBareKey(VK_RETURN, KEYEVENTF_KEYUP);
  ::Sleep(kKeyGapMs);
  trace.Out();
}

void CHkbhKeyEmulate::SendInput_Shift_Insert() {
  const HkbhTrace trace(kSendShiftInsert);
  Sendinput_Key(VK_SHIFT, ScanCodeOf(VK_SHIFT), 0);
  ::Sleep(kKeyGapMs);
  Sendinput_Key(VK_INSERT, ScanCodeOf(VK_INSERT), KEYEVENTF_EXTENDEDKEY);
  ::Sleep(kKeyGapMs);
  Sendinput_Key(VK_INSERT, ScanCodeOf(VK_INSERT), KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP);
  ::Sleep(kAfterPasteMs);
  trace.Out();
}

// ---------------------------------------------------------------------------

HRESULT CHkbhClipboard::SetClipboardData(const wchar_t* text, std::optional<std::wstring>* replaced) {
  const HkbhTrace trace(kSetClipboardData, text);
  if (text == nullptr) return trace.Out(E_POINTER);
  if (*text == L'\0') return trace.Out(E_INVALIDARG);
  // Stays E_FAIL when the clipboard could not be opened.
  HRESULT hr = E_FAIL;
  WithClipboard([&] {
    const size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
    hkb::UniqueGlobal block(::GlobalAlloc(GHND, bytes));
    if (!block) {
      WriteLog("%S ERROR GlobalAlloc(GHND, szLen) Failed\r\n", kSetClipboardData);
      return;
    }
    {
      hkb::GlobalLockScope locked(block.get());
      if (locked.get() == nullptr) {
        WriteLog("%S ERROR GlobalLock(hg) Failed\r\n", kSetClipboardData);
        return;
      }
      std::memcpy(locked.get(), text, bytes);
    }
    if (replaced != nullptr) *replaced = TextOnOpenClipboard();
    ::EmptyClipboard();
    if (::SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr) {
      WriteLog("%S ERROR SetClipboardData(CF_UNICODETEXT, hg) Failed. ErrCode = %d\r\n", kSetClipboardData,
               static_cast<int>(::GetLastError()));
      return;
    }
    block.release();  // the clipboard owns it now
    hr = S_OK;
  });
  return trace.Out(hr);
}

bool CHkbhClipboard::HoldsText(const wchar_t* text) {
  bool holds = false;
  WithClipboard([&] { holds = OpenClipboardHolds(text); });
  return holds;
}

void CHkbhClipboard::PutBack(const wchar_t* own, const std::optional<std::wstring>& earlier) {
  WithClipboard([&] {
    if (!OpenClipboardHolds(own)) return;
    ::EmptyClipboard();
    if (!earlier) return;
    const size_t bytes = (earlier->size() + 1) * sizeof(wchar_t);
    hkb::UniqueGlobal block(::GlobalAlloc(GMEM_MOVEABLE, bytes));
    if (!block) return;
    {
      hkb::GlobalLockScope locked(block.get());
      if (locked.get() == nullptr) return;
      std::memcpy(locked.get(), earlier->c_str(), bytes);
    }
    if (::SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr) block.release();
  });
}
