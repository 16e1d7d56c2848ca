#include "app_records.h"

#include <new>
#include <utility>

#include "hkbh_log.h"

namespace {

constexpr wchar_t kAppIsSubStr[] = L"CHkbhApp::IsSubStrNoOrder";
constexpr wchar_t kMetroExclude[] = L"CHkbhMetroApp::AddToExcludeAppNameList";
constexpr wchar_t kDesktopExclude[] = L"CHkbhDesktopApp::AddToExcludeAppNameList";
constexpr wchar_t kPackageAddApp[] = L"CHkbhPackage::AddApplication";
constexpr wchar_t kPackageExclude[] = L"CHkbhPackage::AddAppNameToExcludeList";
constexpr wchar_t kPackageIsThis[] = L"CHkbhPackage::IsThisPackage";
constexpr wchar_t kPackageDeleteApps[] = L"CHkbhPackage::DeleteAllApp";
constexpr wchar_t kDesktopSame[] = L"CHkbhDesktopApp::IsSameShortcut";

// The keyword test as the exclusion rules use it: traced while the log is on,
// the bare test otherwise (the views always come from whole strings).
bool CoversTraced(std::wstring_view searched, std::wstring_view other) {
  if (!HkbhIsLogSwitchOn()) return hkbh::IsSubStrNoOrder(searched, other);
  return CHkbhApp::IsSubStrNoOrder(std::wstring(searched).c_str(), std::wstring(other).c_str()) != FALSE;
}

HRESULT ToResult(const hkbh::ExcludeOutcome& outcome) {
  if (!outcome.last_add) return S_OK;
  return *outcome.last_add == hkbh::AddResult::Added ? S_OK : S_FALSE;
}

}  // namespace

// ===========================================================================
// CHkbhApp

CHkbhApp::CHkbhApp(std::wstring_view displayName, std::wstring_view rubyDisplayName)
    : m_DisplayName(hkbh::FoldLower(displayName)), m_RubyDisplayName(rubyDisplayName) {}

CHkbhApp::~CHkbhApp() = default;

BOOL CHkbhApp::IsSubStrNoOrder(const wchar_t* searched, const wchar_t* other) {
  const HkbhTrace trace(kAppIsSubStr, searched, other);
  const BOOL result = hkbh::IsSubStrNoOrder(searched ? searched : L"", other ? other : L"") ? TRUE : FALSE;
  return trace.OutValue(result);
}

// ===========================================================================
// CHkbhMetroApp

CHkbhMetroApp::CHkbhMetroApp(std::wstring_view displayName, std::wstring_view shortName,
                             std::wstring_view rubyDisplayName, std::wstring_view rubyShortName)
    : CHkbhApp(displayName, rubyDisplayName),
      m_ShortName(hkbh::FoldLower(shortName)),
      m_RubyShortName(rubyShortName) {}

HRESULT CHkbhMetroApp::AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  const HkbhTrace trace(kMetroExclude, keyword);
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  *exact = FALSE;
  HRESULT hr = S_OK;
  try {
    const std::wstring folded = hkbh::FoldLower(keyword);
    const hkbh::ExcludeOutcome outcome = hkbh::ExcludeMetroApp(
        folded, m_DisplayName, m_RubyDisplayName, m_ShortName, m_RubyShortName, *list, CoversTraced);
    *exact = outcome.exact ? TRUE : FALSE;
    hr = ToResult(outcome);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

// ===========================================================================
// CHkbhDesktopApp

CHkbhDesktopApp::CHkbhDesktopApp(std::wstring_view displayName, std::wstring_view lnkFileName,
                                 std::wstring_view localizeName, std::wstring_view rubyDisplayName,
                                 BOOL needReserve, BOOL isInstalled, BOOL isDualMode)
    : CHkbhApp(displayName, rubyDisplayName),
      m_NeedReserve(needReserve ? TRUE : FALSE),
      m_LocalizeName(localizeName),
      m_LnkFileName(lnkFileName),
      m_IsInstalled(isInstalled ? TRUE : FALSE),
      m_IsDualMode(isDualMode ? TRUE : FALSE) {}

HRESULT CHkbhDesktopApp::AddToExcludeAppNameList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  const HkbhTrace trace(kDesktopExclude, keyword);
  if (keyword == nullptr || list == nullptr || exact == nullptr) return E_POINTER;
  if (*keyword == L'\0') return E_INVALIDARG;
  if (!m_IsInstalled) {
    return trace.Out(S_FALSE);
  }
  *exact = FALSE;
  HRESULT hr = S_OK;
  try {
    const std::wstring folded = hkbh::FoldLower(keyword);
    const std::wstring& name = m_LocalizeName.empty() ? m_DisplayName : m_LocalizeName;
    const hkbh::ExcludeOutcome outcome =
        hkbh::ExcludeDesktopApp(folded, name, m_RubyDisplayName, m_IsDualMode != FALSE, *list, CoversTraced);
    *exact = outcome.exact ? TRUE : FALSE;
    hr = ToResult(outcome);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

BOOL CHkbhDesktopApp::IsSameShortcut(const wchar_t* path) const {
  const HkbhTrace trace(kDesktopSame, path);
  const BOOL same = (path != nullptr && hkbh::EqualsNoCase(m_LnkFileName, path)) ? TRUE : FALSE;
  return trace.OutValue(same);
}

// ===========================================================================
// CHkbhPackage

CHkbhPackage::CHkbhPackage(std::wstring_view familyName, std::wstring_view fullName, std::wstring_view name,
                           const HkbhVersion& version, BOOL needReserve, BOOL isInstalled)
    : m_PackageFamilyName(familyName),
      m_FullName(fullName),
      m_Name(name),
      m_Version(version),
      m_NeedReserve(needReserve ? TRUE : FALSE),
      m_IsInstalled(isInstalled ? TRUE : FALSE) {}

CHkbhPackage::~CHkbhPackage() = default;

BOOL CHkbhPackage::IsThisPackage(const wchar_t* familyName) const {
  const HkbhTrace trace(kPackageIsThis, familyName);
  const BOOL same =
      (familyName != nullptr && !m_PackageFamilyName.empty() && m_PackageFamilyName == familyName) ? TRUE
                                                                                                   : FALSE;
  return trace.OutValue(same);
}

HRESULT CHkbhPackage::AddApplication(std::unique_ptr<CHkbhMetroApp> app) {
  const HkbhTrace trace(kPackageAddApp);
  HRESULT hr = S_OK;
  if (!app) {
    hr = E_POINTER;
  } else {
    try {
      m_Apps.push_back(std::move(app));
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    }
  }
  return trace.Out(hr);
}

HRESULT CHkbhPackage::AddApplication(const wchar_t* displayName, const wchar_t* shortName) {
  const HkbhTrace trace(kPackageAddApp, displayName, shortName);
  if (displayName == nullptr) return E_POINTER;
  HRESULT hr = S_OK;
  try {
    hr = AddApplication(std::make_unique<CHkbhMetroApp>(displayName, shortName ? shortName : L"", L"", L""));
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  }
  return trace.Out(hr);
}

void CHkbhPackage::DeleteAllApp() {
  const HkbhTrace trace(kPackageDeleteApps);
  m_Apps.clear();
  trace.Out();
}

void CHkbhPackage::AddAppNameToExcludeList(const wchar_t* keyword, HkbhExcludeList* list, BOOL* exact) {
  const HkbhTrace trace(kPackageExclude, m_PackageFamilyName.c_str());
  for (const auto& app : m_Apps) {
    BOOL found = FALSE;
    app->AddToExcludeAppNameList(keyword, list, &found);
    if (found && exact != nullptr) *exact = TRUE;
  }
  trace.Out();
}

void CHkbhPackage::SetIdentity(std::wstring_view fullName, std::wstring_view name) {
  m_FullName.assign(fullName);
  m_Name.assign(name);
}
