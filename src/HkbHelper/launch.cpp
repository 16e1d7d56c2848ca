#include "launch.h"

#include <shobjidl.h>

#include <new>
#include <optional>
#include <string>

#include "hkb/com.h"
#include "hkb/unique.h"
#include "hkbh_log.h"
#include "hkbh_reg.h"
#include "monitor_mode.h"
#include "package_manager.h"
#include "search_logic.h"

namespace {

constexpr wchar_t kLaunchBySearch[] = L"HkbhLaunchBySearch";
constexpr wchar_t kLaunchIEBySearch[] = L"HkbhLaunchIEBySearch";
constexpr wchar_t kLaunchByManager[] = L"HkbhLaunchByManager";
constexpr wchar_t kBrowserName[] = L"Internet Explorer";

constexpr DWORD kBeforeNamePasteMs = 2000;
constexpr DWORD kAfterShiftReleaseMs = 50;
constexpr DWORD kAfterActivationMs = 100;
constexpr int kResendPasses = 20;
constexpr int kSearchPaneGonePolls = 10;
constexpr DWORD kPollMs = 100;

WORD ShiftScanCode() { return static_cast<WORD>(::MapVirtualKeyW(VK_SHIFT, MAPVK_VK_TO_VSC)); }

// From the first paste on, the search holds the Shift key down and the
// clipboard holds the searched text. Should the search be left early (an
// exception), both are put right without the search's pauses: the Shift key goes
// up and the clipboard gets back the text it held before. The normal path
// does the same through the traced steps and dismisses the guard.
class SearchInputGuard {
 public:
  SearchInputGuard(const wchar_t* searched, const std::optional<std::wstring>& earlier)
      : m_searched(searched), m_earlier(earlier) {}
  SearchInputGuard(const SearchInputGuard&) = delete;
  SearchInputGuard& operator=(const SearchInputGuard&) = delete;
  ~SearchInputGuard() {
    if (!m_armed) return;
    CHkbhClipboard::PutBack(m_searched, m_earlier);
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = VK_SHIFT;
    input.ki.wScan = ShiftScanCode();
    input.ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(1, &input, sizeof(INPUT));
  }
  void Dismiss() { m_armed = false; }

 private:
  const wchar_t* m_searched;
  const std::optional<std::wstring>& m_earlier;
  bool m_armed = true;
};

// After the first paste and Enter: while the search pane stays in front the
// paste and Enter are repeated, at most 20 times.
void ResendWhileSearchPaneStays() {
  for (int pass = 0; pass < kResendPasses; ++pass) {
    for (int poll = 0; poll < kSearchPaneGonePolls; ++poll) {
      ::Sleep(kPollMs);
      if (!CHkbhMonitorMode::IsSearchPaneForeground()) break;
    }
    if (!CHkbhMonitorMode::IsSearchPaneForeground()) return;
    CHkbhKeyEmulate::SendInput_Shift_Insert();
    CHkbhKeyEmulate::SendInput_Enter();
  }
}

// The longest wait the setting can ask for: INFINITE would never end.
DWORD FiniteWait(DWORD ms) { return ms == INFINITE ? INFINITE - 1 : ms; }

}  // namespace

HRESULT HkbhRunLaunchBySearch(CHkbhPackageManager& packages, const wchar_t* name, UINT mode,
                              BOOL useExclusion) {
  WriteLog("%S(%S, %d, %d) IN\r\n", kLaunchBySearch, HkbhText(name), static_cast<int>(mode),
           static_cast<int>(useExclusion));
  const HkbhTrace trace(kLaunchBySearch, HkbhTrace::InWritten{});
  if (name == nullptr) return trace.Out(E_POINTER);
  if (*name == L'\0' || mode > hkbh::kLastSearchMode) return trace.Out(E_INVALIDARG);

  std::wstring keyword;
  BOOL exactMatch = FALSE;
  try {
    HkbhExcludeList exclude;
    if (useExclusion) {
      const HRESULT hr = packages.GetExcludeAppNameList(name, &exclude, &exactMatch);
      if (FAILED(hr)) return trace.Out(hr);
    }
    keyword = hkbh::BuildSearchKeyword(name, exclude);
  } catch (const std::bad_alloc&) {
    return trace.Out(E_OUTOFMEMORY);
  }
  WriteLog("%S szKeyword = %S \r\n", kLaunchBySearch, keyword.c_str());

  const HRESULT opened = CHkbhMonitorMode::OpenAppSearchUI();
  if (FAILED(opened)) {
    WriteLog("%S OUT(SwitchToStartScreen : ret=0x%08X)\r\n", kLaunchBySearch, static_cast<unsigned>(opened));
    return E_FAIL;
  }

  const bool pasteName = hkbh::PasteForMode(mode, exactMatch != FALSE) == hkbh::SearchPaste::Name;
  const wchar_t* const searched = pasteName ? name : keyword.c_str();
  // The user's text goes back on the clipboard when the search is done.
  std::optional<std::wstring> earlier;
  const HRESULT set = CHkbhClipboard::SetClipboardData(searched, &earlier);
  if (FAILED(set) || !CHkbhClipboard::HoldsText(searched)) {
    // A paste now would put whatever the clipboard holds into the search,
    // and Enter would start it. No key is down at this point (Windows key +
    // Q has been released), so nothing needs to be let go.
    CHkbhClipboard::PutBack(searched, earlier);
    WriteLog("%S The search text is not on the clipboard: nothing pasted.\r\n", kLaunchBySearch);
    return trace.Out(CLIPBRD_E_CANT_SET);
  }
  SearchInputGuard guard(searched, earlier);
  if (hkbh::ModePressesEnter(mode)) {
    CHkbhKeyEmulate::SendInput_Shift_Insert();
    CHkbhKeyEmulate::SendInput_Enter();
    ResendWhileSearchPaneStays();
  } else {
    ::Sleep(kBeforeNamePasteMs);
    CHkbhKeyEmulate::SendInput_Shift_Insert();
    ::Sleep(FiniteWait(CHkbhReg::GetClearClipboardWaitTime()));
  }
  CHkbhClipboard::PutBack(searched, earlier);
  CHkbhKeyEmulate::Sendinput_Key(VK_SHIFT, ShiftScanCode(), KEYEVENTF_KEYUP);
  guard.Dismiss();
  ::Sleep(kAfterShiftReleaseMs);
  return trace.Out(S_OK);
}

HRESULT HkbhRunLaunchIEBySearch(CHkbhPackageManager& packages, UINT tileMode, UINT searchMode,
                                BOOL useExclusion) {
  WriteLog("%S(%d, %d, %d) IN\r\n", kLaunchIEBySearch, static_cast<int>(tileMode),
           static_cast<int>(searchMode), static_cast<int>(useExclusion));
  const HkbhTrace trace(kLaunchIEBySearch, HkbhTrace::InWritten{});
  if (tileMode > hkbh::kLastTileMode || searchMode > hkbh::kLastSearchMode) return trace.Out(E_INVALIDARG);

  DWORD oldValue = 1;
  const LONG read = CHkbhReg::GetCurrentTileImmersiveActivation(&oldValue);
  bool changed = false;
  if (const auto value = hkbh::TileValueToWrite(tileMode, read, oldValue)) {
    // Noted first, so that a host ended during the search does not leave the
    // setting changed for good (see HkbhInitialize).
    CHkbhReg::RecordTileImmersiveActivation(read == hkbh::kTileRead, oldValue);
    CHkbhReg::SetCurrentTileImmersiveActivation(*value);
    changed = true;
  }
  // The setting is put back however the search ends.
  struct Restore {
    LONG read;
    bool changed;
    DWORD oldValue;
    ~Restore() {
      try {
        switch (hkbh::TileRestoreFor(read, changed)) {
          case hkbh::TileRestore::WriteBack: CHkbhReg::SetCurrentTileImmersiveActivation(oldValue); break;
          case hkbh::TileRestore::Delete: CHkbhReg::DeleteTileImmersiveActivation(); break;
          case hkbh::TileRestore::Nothing: break;
        }
        if (changed) CHkbhReg::ForgetTileImmersiveActivation();
      } catch (...) {
      }
    }
  };
  HRESULT hr;
  {
    Restore restore{read, changed, oldValue};
    hr = HkbhRunLaunchBySearch(packages, kBrowserName, searchMode, useExclusion);
  }
  return trace.Out(hr);
}

HRESULT HkbhRunLaunchByManager(const wchar_t* appUserModelId, const wchar_t* arguments) {
  const HkbhTrace trace(kLaunchByManager, appUserModelId, arguments);
  if (appUserModelId == nullptr) return trace.Out(E_POINTER);
  if (*appUserModelId == L'\0') return trace.Out(E_INVALIDARG);
  HRESULT hr;
  {
    hkb::ComInit com(COINIT_APARTMENTTHREADED);
    hkb::ComPtr<IApplicationActivationManager> manager;
    hr = ::CoCreateInstance(CLSID_ApplicationActivationManager, nullptr, CLSCTX_INPROC_SERVER,
                            IID_IApplicationActivationManager, manager.put_void());
    if (SUCCEEDED(hr) && !manager) hr = E_NOINTERFACE;
    if (FAILED(hr)) return hr;
    DWORD processId = 0;
    hr = manager->ActivateApplication(appUserModelId, arguments, AO_NONE, &processId);
  }
  ::Sleep(kAfterActivationMs);
  return hr;
}
